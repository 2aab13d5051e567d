// Placeholder table until the build embeds the files of resources/.
#include "platform/Resources.h"

namespace platform {
namespace {
const unsigned char kManufacturer[] = {'V', 'e', 'l', 't', 'r', 'a', 'n', 'o'};
const Resource kTable[] = {
    {kResourceString, 1008, nullptr, nullptr, kManufacturer, sizeof kManufacturer},
    {0, 0, nullptr, nullptr, nullptr, 0},
};
}  // namespace

const Resource* EmbeddedResources() { return kTable; }

}  // namespace platform
