#include "platform/DeviceBitmap.h"

#include <algorithm>

namespace platform {

namespace {

uint32_t ReadU32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint16_t ReadU16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

constexpr size_t kMinHeaderSize = 40;
constexpr int32_t kMaxSide = 4096;

}  // namespace

bool DecodePackedBitmap(const unsigned char* data, size_t size, PixelBlock* out) {
    if (data == nullptr || out == nullptr || size < kMinHeaderSize) return false;
    uint32_t headerSize = ReadU32(data);
    if (headerSize < kMinHeaderSize || headerSize > size) return false;
    auto width = static_cast<int32_t>(ReadU32(data + 4));
    auto height = static_cast<int32_t>(ReadU32(data + 8));
    uint16_t planes = ReadU16(data + 12);
    uint16_t bitsPerPixel = ReadU16(data + 14);
    uint32_t compression = ReadU32(data + 16);
    uint32_t coloursUsed = ReadU32(data + 32);
    // A negative height marks rows stored from the top down.
    bool topDown = height < 0;
    int64_t rows = topDown ? -int64_t(height) : int64_t(height);
    if (planes != 1 || bitsPerPixel != 24 || compression != 0) return false;
    if (width < 1 || width > kMaxSide || rows < 1 || rows > kMaxSide) return false;
    // A 24-bit bitmap may still carry a colour table, which the pixels follow.
    if (coloursUsed > 256) return false;
    size_t offset = size_t(headerSize) + size_t(coloursUsed) * 4;
    auto stride = static_cast<int32_t>((width * 3 + 3) & ~3);
    size_t needed = size_t(stride) * size_t(rows);
    if (offset > size || size - offset < needed) return false;

    out->width = width;
    out->height = static_cast<int32_t>(rows);
    out->stride = stride;
    out->bits.assign(needed, 0);
    for (int64_t r = 0; r < rows; ++r) {
        // Kept bottom-up, as the platform's sections are.
        int64_t source = topDown ? rows - 1 - r : r;
        std::copy(data + offset + size_t(source) * stride, data + offset + size_t(source + 1) * stride,
                  out->bits.begin() + size_t(r) * stride);
    }
    return true;
}

void MapGreysTo3DColours(PixelBlock* block, const Colours3D& colours) {
    if (block == nullptr) return;
    for (int32_t y = 0; y < block->height; ++y) {
        unsigned char* row = block->bits.data() + size_t(y) * block->stride;
        for (int32_t x = 0; x < block->width; ++x) {
            unsigned char* px = row + size_t(x) * 3;
            if (px[0] != px[1] || px[1] != px[2]) continue;
            ZrkColour colour;
            if (px[0] == 128) {
                colour = colours.shadow;
            } else if (px[0] == 192) {
                colour = colours.face;
            } else if (px[0] == 223) {
                colour = colours.light;
            } else {
                continue;
            }
            px[0] = static_cast<unsigned char>((colour >> 16) & 0xFF);  // blue
            px[1] = static_cast<unsigned char>((colour >> 8) & 0xFF);   // green
            px[2] = static_cast<unsigned char>(colour & 0xFF);          // red
        }
    }
}

}  // namespace platform
