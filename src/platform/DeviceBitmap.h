// The device bitmap that the host shows beside the device: loaded from the plug-in's bitmap resource with
// its grey shades replaced by the system's 3-D colours, so that it blends with the host's controls.
//
// On POSIX a ZrkBitmapHandle points to a ZrkBitmapObject below: a pixel block laid out as the platform's
// device-independent sections are (24 bits a pixel in the byte order blue, green, red; rows from the
// bottom up; each row padded to a multiple of four bytes). The device that hands the handle out owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Resources.h"
#include "zrk/ZrkHandles.h"

#if !defined(_WIN32)
struct ZrkBitmapObject {
    int32_t width;
    int32_t height;
    int32_t bitsPerPixel;  // always 24
    int32_t stride;        // bytes per row
    unsigned char* bits;   // stride * height bytes, the bottom row first
};
#endif

namespace platform {

// A decoded 24-bit bitmap in the section layout described above.
struct PixelBlock {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    std::vector<unsigned char> bits;
};

// The three colours that replace the resource's greys (0x00BBGGRR).
struct Colours3D {
    ZrkColour shadow;  // replaces 128, 128, 128
    ZrkColour face;    // replaces 192, 192, 192
    ZrkColour light;   // replaces 223, 223, 223
};

// Reads a packed device-independent bitmap (an information header followed by the pixels, as bitmap
// resources are stored). Only uncompressed 24-bit bitmaps of 1 to 4096 pixels a side are taken; anything
// else, or data too short for what the header announces, gives false.
bool DecodePackedBitmap(const unsigned char* data, size_t size, PixelBlock* out);

// Replaces every pixel of exactly one of the three greys by its 3-D colour.
void MapGreysTo3DColours(PixelBlock* block, const Colours3D& colours);

// The system's 3-D colours. POSIX has no such setting: the platform's standard scheme is used
// (shadow 160, 160, 160; face 240, 240, 240; light 227, 227, 227).
Colours3D System3DColours();

// Loads bitmap resource `id` of `module` with its greys mapped; null when it is missing or unreadable.
ZrkBitmapHandle LoadMapped3DBitmap(ModuleHandle module, int id);
// The pixels of a handle of LoadMapped3DBitmap, in the block layout above; false for null or on failure.
bool ReadBitmap(ZrkBitmapHandle bitmap, PixelBlock* out);
// Frees a handle of LoadMapped3DBitmap; null is allowed.
void DeleteBitmap(ZrkBitmapHandle bitmap);

}  // namespace platform
