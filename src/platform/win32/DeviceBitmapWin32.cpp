// The device bitmap as the platform's own bitmap: a device-independent section with the resource's greys
// replaced by the system's 3-D colours.
#include <windows.h>
// The platform's macro would rename the portable FindResource declared below.
#undef FindResource

#include <cstring>

#include "platform/DeviceBitmap.h"

namespace platform {

Colours3D System3DColours() {
    return Colours3D{static_cast<ZrkColour>(GetSysColor(COLOR_3DSHADOW)),
                     static_cast<ZrkColour>(GetSysColor(COLOR_3DFACE)),
                     static_cast<ZrkColour>(GetSysColor(COLOR_3DLIGHT))};
}

ZrkBitmapHandle LoadMapped3DBitmap(ModuleHandle module, int id) {
    const Resource* resource = FindResource(module, kResourceBitmap, id);
    if (resource == nullptr) return nullptr;
    PixelBlock block;
    if (!DecodePackedBitmap(resource->data, resource->size, &block)) return nullptr;
    MapGreysTo3DColours(&block, System3DColours());

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = block.width;
    info.bmiHeader.biHeight = block.height;  // bottom-up, as the block is laid out
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        return nullptr;
    }
    // Both sides pad rows to four bytes, so the block is the section's exact image.
    std::memcpy(bits, block.bits.data(), block.bits.size());
    GdiFlush();
    return reinterpret_cast<ZrkBitmapHandle>(bitmap);
}

bool ReadBitmap(ZrkBitmapHandle bitmap, PixelBlock* out) {
    if (bitmap == nullptr || out == nullptr) return false;
    DIBSECTION section{};
    if (GetObjectA(reinterpret_cast<HBITMAP>(bitmap), sizeof section, &section) != sizeof section)
        return false;
    const BITMAP& b = section.dsBm;
    if (b.bmBits == nullptr || b.bmBitsPixel != 24 || b.bmHeight <= 0) return false;
    out->width = b.bmWidth;
    out->height = b.bmHeight;
    out->stride = b.bmWidthBytes;
    const auto* bits = static_cast<const unsigned char*>(b.bmBits);
    out->bits.assign(bits, bits + static_cast<size_t>(b.bmWidthBytes) * b.bmHeight);
    return true;
}

void DeleteBitmap(ZrkBitmapHandle bitmap) {
    if (bitmap != nullptr) DeleteObject(reinterpret_cast<HBITMAP>(bitmap));
}

}  // namespace platform
