#include "splash/image_header.h"

#include <string.h>

namespace {

uint32_t little16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t little32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t big16(const uint8_t* p) { return (p[0] << 8) | p[1]; }

const size_t kFileHeaderBytes = 14;
const size_t kInfoHeaderBytes = 40;
const size_t kCoreHeaderBytes = 12;
// No decoder here makes a window wider or taller than this from a header.
const int32_t kLargestSide = 32767;

// The info header's size when the file starts with a bitmap file header and
// an info header (or the older core header) lies wholly inside the file.
uint32_t bitmapInfoSize(const uint8_t* bytes, size_t length) {
    if (length < kFileHeaderBytes + kCoreHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M') return 0;
    uint32_t infoSize = little32(bytes + kFileHeaderBytes);
    if (infoSize != kCoreHeaderBytes && infoSize < kInfoHeaderBytes) return 0;
    if (infoSize > length - kFileHeaderBytes) return 0;
    return infoSize;
}

bool bitmapSize(const uint8_t* bytes, size_t length, int32_t& width, int32_t& height) {
    uint32_t infoSize = bitmapInfoSize(bytes, length);
    if (infoSize == 0) return false;
    const uint8_t* info = bytes + kFileHeaderBytes;
    int64_t w, h;
    if (infoSize == kCoreHeaderBytes) {
        w = little16(info + 4);
        h = little16(info + 6);
    } else {
        w = static_cast<int32_t>(little32(info + 4));
        h = static_cast<int32_t>(little32(info + 8));
        if (h < 0) h = -h;
    }
    if (w <= 0 || h <= 0 || w > kLargestSide || h > kLargestSide) return false;
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

bool gifSize(const uint8_t* bytes, size_t length, int32_t& width, int32_t& height) {
    if (length < 13 || (memcmp(bytes, "GIF87a", 6) != 0 && memcmp(bytes, "GIF89a", 6) != 0)) return false;
    width = static_cast<int32_t>(little16(bytes + 6));
    height = static_cast<int32_t>(little16(bytes + 8));
    return width > 0 && height > 0;
}

// The frame header (SOF0 to SOF15, but not the table markers among them)
// after the segments before it.
bool jpegSize(const uint8_t* bytes, size_t length, int32_t& width, int32_t& height) {
    if (length < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= length) {
        if (bytes[at] != 0xFF) return false;
        uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no segment follows
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return false;  // image end or data before any frame header
        uint32_t segment = big16(bytes + at + 2);
        if (segment < 2 || segment > length - at - 2) return false;
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (segment < 7) return false;
            height = static_cast<int32_t>(big16(bytes + at + 5));
            width = static_cast<int32_t>(big16(bytes + at + 7));
            return width > 0 && height > 0;
        }
        at += 2 + segment;
    }
    return false;
}

}  // namespace

bool readBitmapFileLayout(const uint8_t* bytes, size_t length, BitmapFileLayout& layout) {
    uint32_t infoSize = bitmapInfoSize(bytes, length);
    if (infoSize < kInfoHeaderBytes) return false;
    const uint8_t* info = bytes + kFileHeaderBytes;
    int32_t width = static_cast<int32_t>(little32(info + 4));
    int32_t height = static_cast<int32_t>(little32(info + 8));
    uint32_t planes = little16(info + 12);
    uint32_t bits = little16(info + 14);
    uint32_t compression = little32(info + 16);
    if (planes != 1 || (bits != 24 && bits != 32) || compression != 0) return false;
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    // 64-bit sums: no size in the header can wrap past a check.
    uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    uint64_t pixelBytes = stride * rows;
    uint64_t offset = little32(bytes + 10);
    if (offset < kFileHeaderBytes + infoSize || offset > length || pixelBytes > length - offset) return false;
    layout.width = width;
    layout.height = height;
    layout.bitsPerPixel = static_cast<uint16_t>(bits);
    layout.pixelOffset = static_cast<uint32_t>(offset);
    layout.pixelBytes = static_cast<uint32_t>(pixelBytes);
    return true;
}

bool opaqueImageSize(const uint8_t* bytes, size_t length, int32_t& width, int32_t& height) {
    int32_t w = 0, h = 0;
    if (!bitmapSize(bytes, length, w, h) && !gifSize(bytes, length, w, h) && !jpegSize(bytes, length, w, h))
        return false;
    if (w > kLargestSide || h > kLargestSide) return false;
    width = w;
    height = h;
    return true;
}
