#include <cstring>
#include <new>

#include "platform/DeviceBitmap.h"

namespace platform {

Colours3D System3DColours() {
    return Colours3D{0x00A0A0A0u, 0x00F0F0F0u, 0x00E3E3E3u};
}

ZrkBitmapHandle LoadMapped3DBitmap(ModuleHandle module, int id) {
    const Resource* resource = FindResource(module, kResourceBitmap, id);
    if (resource == nullptr) return nullptr;
    PixelBlock block;
    if (!DecodePackedBitmap(resource->data, resource->size, &block)) return nullptr;
    MapGreysTo3DColours(&block, System3DColours());

    auto* bitmap = new (std::nothrow) ZrkBitmapObject{};
    if (bitmap == nullptr) return nullptr;
    bitmap->bits = new (std::nothrow) unsigned char[block.bits.size()];
    if (bitmap->bits == nullptr) {
        delete bitmap;
        return nullptr;
    }
    std::memcpy(bitmap->bits, block.bits.data(), block.bits.size());
    bitmap->width = block.width;
    bitmap->height = block.height;
    bitmap->bitsPerPixel = 24;
    bitmap->stride = block.stride;
    return bitmap;
}

bool ReadBitmap(ZrkBitmapHandle bitmap, PixelBlock* out) {
    if (bitmap == nullptr || out == nullptr) return false;
    out->width = bitmap->width;
    out->height = bitmap->height;
    out->stride = bitmap->stride;
    out->bits.assign(bitmap->bits, bitmap->bits + static_cast<size_t>(bitmap->stride) * bitmap->height);
    return true;
}

void DeleteBitmap(ZrkBitmapHandle bitmap) {
    if (bitmap == nullptr) return;
    delete[] bitmap->bits;
    delete bitmap;
}

}  // namespace platform
