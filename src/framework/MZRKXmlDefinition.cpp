#include "framework/MZRKXmlDefinition.h"

#include <cstring>

#include "framework/TextCopy.h"

MZRKXmlDefinition::~MZRKXmlDefinition() {
    delete[] text_;
}

bool MZRKXmlDefinition::LoadFromResource(platform::ModuleHandle module, int id) {
    delete[] text_;
    text_ = nullptr;
    const platform::Resource* resource = platform::FindResource(module, platform::kResourceRcData, id);
    if (!resource || !resource->data) return false;
    text_ = new char[resource->size + 1];
    std::memcpy(text_, resource->data, resource->size);
    text_[resource->size] = '\0';
    return true;
}

const char* MZRKXmlDefinition::GetText() {
    return text_;
}

void MZRKXmlDefinition::SetText(const char* text) {
    // Copy first: `text` may point into the held text.
    char* copy = CopyText(text);
    delete[] text_;
    text_ = copy;
}
