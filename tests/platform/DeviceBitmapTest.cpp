// The device bitmap's decoding from its resource form and the mapping of its greys.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/DeviceBitmap.h"

namespace {

void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A packed 24-bit bitmap of width x |height| whose pixel (x, stored row r) is (r, x, 7) in B, G, R.
std::vector<unsigned char> Packed(int32_t width, int32_t height, uint16_t bits = 24) {
    int32_t rows = height < 0 ? -height : height;
    size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    std::vector<unsigned char> b(40 + stride * rows, 0);
    Put32(b, 0, 40);
    Put32(b, 4, uint32_t(width));
    Put32(b, 8, uint32_t(height));
    b[12] = 1;
    b[14] = static_cast<unsigned char>(bits);
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t x = 0; x < width; ++x) {
            unsigned char* px = &b[40 + r * stride + x * 3];
            px[0] = static_cast<unsigned char>(r);
            px[1] = static_cast<unsigned char>(x);
            px[2] = 7;
        }
    }
    return b;
}

TEST(DeviceBitmapDecode, TheEmbeddedBitmapIs16By16) {
    const platform::Resource* r = platform::FindResource(platform::OwnModule(), platform::kResourceBitmap, 5);
    ASSERT_NE(r, nullptr);
    platform::PixelBlock block;
    ASSERT_TRUE(platform::DecodePackedBitmap(r->data, r->size, &block));
    EXPECT_EQ(block.width, 16);
    EXPECT_EQ(block.height, 16);
    EXPECT_EQ(block.stride, 48);
    EXPECT_EQ(block.bits.size(), 768u);
}

TEST(DeviceBitmapDecode, RowsAreKeptBottomUpAndPaddedToFourBytes) {
    std::vector<unsigned char> up = Packed(3, 2);
    platform::PixelBlock block;
    ASSERT_TRUE(platform::DecodePackedBitmap(up.data(), up.size(), &block));
    EXPECT_EQ(block.stride, 12);
    EXPECT_EQ(block.bits[0], 0);  // stored row 0 stays first
    EXPECT_EQ(block.bits[12], 1);
    EXPECT_EQ(block.bits[3 + 1], 1);  // x = 1 in green

    // A top-down bitmap (negative height) comes out bottom-up as well.
    std::vector<unsigned char> down = Packed(3, -2);
    ASSERT_TRUE(platform::DecodePackedBitmap(down.data(), down.size(), &block));
    EXPECT_EQ(block.height, 2);
    EXPECT_EQ(block.bits[0], 1);
    EXPECT_EQ(block.bits[12], 0);
}

TEST(DeviceBitmapDecode, RefusesWhatItCannotTake) {
    platform::PixelBlock block;
    std::vector<unsigned char> good = Packed(4, 4);
    EXPECT_FALSE(platform::DecodePackedBitmap(nullptr, 10, &block));
    EXPECT_FALSE(platform::DecodePackedBitmap(good.data(), good.size() - 1, &block));
    EXPECT_FALSE(platform::DecodePackedBitmap(good.data(), 39, &block));
    std::vector<unsigned char> eight = Packed(4, 4, 8);
    EXPECT_FALSE(platform::DecodePackedBitmap(eight.data(), eight.size(), &block));
    std::vector<unsigned char> zero = Packed(4, 4);
    Put32(zero, 4, 0);
    EXPECT_FALSE(platform::DecodePackedBitmap(zero.data(), zero.size(), &block));
    std::vector<unsigned char> huge = Packed(4, 4);
    Put32(huge, 4, 0x7FFFFFFF);
    EXPECT_FALSE(platform::DecodePackedBitmap(huge.data(), huge.size(), &block));
    std::vector<unsigned char> lowest = Packed(4, 4);
    Put32(lowest, 8, 0x80000000u);  // the most negative height
    EXPECT_FALSE(platform::DecodePackedBitmap(lowest.data(), lowest.size(), &block));
    std::vector<unsigned char> table = Packed(4, 4);
    Put32(table, 32, 1000);
    EXPECT_FALSE(platform::DecodePackedBitmap(table.data(), table.size(), &block));
}

TEST(DeviceBitmapDecode, ArbitraryHeadersNeverReadPastTheData) {
    std::vector<unsigned char> base = Packed(5, 3);
    uint32_t seed = 9;
    for (int round = 0; round < 4000; ++round) {
        std::vector<unsigned char> b = base;
        for (int e = 0; e < 3; ++e) {
            seed = seed * 1103515245u + 12345u;
            b[(seed >> 8) % 40] = static_cast<unsigned char>(seed >> 20);
        }
        size_t size = b.size() - (seed >> 4) % 8;
        std::vector<unsigned char> exact(b.begin(), b.begin() + size);  // the sanitizer sees the true end
        platform::PixelBlock block;
        if (platform::DecodePackedBitmap(exact.data(), exact.size(), &block)) {
            EXPECT_EQ(block.bits.size(), size_t(block.stride) * block.height);
        }
    }
}

TEST(DeviceBitmapMap, OnlyTheThreeExactGreysChange) {
    platform::PixelBlock block;
    block.width = 5;
    block.height = 1;
    block.stride = 16;
    block.bits = {128, 128, 128, 192, 192, 192, 223, 223, 223, 128, 128, 129, 100, 100, 100, 0};
    platform::MapGreysTo3DColours(&block, platform::Colours3D{0x00030201u, 0x00060504u, 0x00090807u});
    EXPECT_EQ(block.bits,
              (std::vector<unsigned char>{3, 2, 1, 6, 5, 4, 9, 8, 7, 128, 128, 129, 100, 100, 100, 0}));
}

}  // namespace
