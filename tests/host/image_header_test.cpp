// What the splash reads from an image file's header before any decoder: the
// layout of a plain bitmap file (every part inside the file) and the size of
// other opaque images.
#include "splash/image_header.h"

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}
void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// A bitmap file: headers, then `pixelBytes` bytes at `offset` (0: right after
// the headers); `fileSize` 0 means header, gap and pixels exactly.
struct Bmp {
    uint32_t infoSize = 40;
    int32_t width = 3, height = 2;
    uint32_t planes = 1, bits = 24, compression = 0;
    uint32_t offset = 0;
    uint32_t pixelBytes = 24;
    size_t fileSize = 0;

    Bytes bytes() const {
        uint32_t start = offset ? offset : 14 + infoSize;
        Bytes b(fileSize ? fileSize : start + pixelBytes, 0);
        b.resize(std::max<size_t>(b.size(), 14 + 16));  // room to write the fields below
        b[0] = 'B';
        b[1] = 'M';
        put32(b, 2, static_cast<uint32_t>(b.size()));
        put32(b, 10, start);
        put32(b, 14, infoSize);
        if (infoSize == 12) {
            put16(b, 18, static_cast<uint32_t>(width));
            put16(b, 20, static_cast<uint32_t>(height));
            put16(b, 22, planes);
            put16(b, 24, bits);
        } else {
            put32(b, 18, static_cast<uint32_t>(width));
            put32(b, 22, static_cast<uint32_t>(height));
            put16(b, 26, planes);
            put16(b, 28, bits);
            if (b.size() >= 34) put32(b, 30, compression);
        }
        if (fileSize) b.resize(fileSize);
        return b;
    }
};

Bmp bmp(void (*change)(Bmp&)) {
    Bmp b;
    change(b);
    return b;
}

TEST(BitmapFileLayoutTest, PlainBitmapsInsideTheFileOnly) {
    struct Case {
        const char* name;
        Bytes file;
        bool plain;
        BitmapFileLayout layout;
    } cases[] = {
        // 3 pixels of 3 bytes: rows padded from 9 to 12 bytes.
        {"24-bit bottom-up", Bmp().bytes(), true, {3, 2, 24, 54, 24}},
        {"32-bit top-down", bmp([](Bmp& b) { b.bits = 32, b.width = 2, b.height = -3, b.pixelBytes = 24; }).bytes(),
         true, {2, -3, 32, 54, 24}},
        {"longest info header", bmp([](Bmp& b) { b.infoSize = 124; }).bytes(), true, {3, 2, 24, 138, 24}},
        {"gap before the pixels", bmp([](Bmp& b) { b.offset = 70; }).bytes(), true, {3, 2, 24, 70, 24}},
        {"bytes after the pixels", bmp([](Bmp& b) { b.fileSize = 90; }).bytes(), true, {3, 2, 24, 54, 24}},
        {"last row cut short", bmp([](Bmp& b) { b.pixelBytes = 23; }).bytes(), false, {}},
        {"headers cut short", bmp([](Bmp& b) { b.fileSize = 40; }).bytes(), false, {}},
        {"pixels past the end", bmp([](Bmp& b) { b.offset = 0x7FFFFFF0; b.fileSize = 80; }).bytes(), false, {}},
        {"pixels inside the headers", bmp([](Bmp& b) { b.offset = 14; b.fileSize = 80; }).bytes(), false, {}},
        {"info header past the end", bmp([](Bmp& b) { b.infoSize = 0x17171717; b.fileSize = 300; }).bytes(), false,
         {}},
        {"short info header", bmp([](Bmp& b) { b.infoSize = 39; }).bytes(), false, {}},
        {"core header", bmp([](Bmp& b) { b.infoSize = 12; }).bytes(), false, {}},
        {"absurd size", bmp([](Bmp& b) { b.width = b.height = 0x7FFFFFFF, b.bits = 32; }).bytes(), false, {}},
        {"row wider than 32 bits", bmp([](Bmp& b) { b.width = 0x40000000, b.height = 1, b.bits = 32; }).bytes(), false,
         {}},
        {"no width", bmp([](Bmp& b) { b.width = 0; }).bytes(), false, {}},
        {"negative width", bmp([](Bmp& b) { b.width = -3; }).bytes(), false, {}},
        {"no height", bmp([](Bmp& b) { b.height = 0; }).bytes(), false, {}},
        {"most negative height", bmp([](Bmp& b) { b.height = INT32_MIN; }).bytes(), false, {}},
        {"palette", bmp([](Bmp& b) { b.bits = 8; }).bytes(), false, {}},
        {"bit fields", bmp([](Bmp& b) { b.bits = 32, b.compression = 3; }).bytes(), false, {}},
        {"two planes", bmp([](Bmp& b) { b.planes = 2; }).bytes(), false, {}},
        {"not a bitmap", Bytes{'B', 'N', 0, 0}, false, {}},
        {"empty", Bytes(), false, {}},
    };
    for (const Case& c : cases) {
        BitmapFileLayout layout = {};
        ASSERT_EQ(readBitmapFileLayout(c.file.data(), c.file.size(), layout), c.plain) << c.name;
        if (!c.plain) continue;
        EXPECT_EQ(layout.width, c.layout.width) << c.name;
        EXPECT_EQ(layout.height, c.layout.height) << c.name;
        EXPECT_EQ(layout.bitsPerPixel, c.layout.bitsPerPixel) << c.name;
        EXPECT_EQ(layout.pixelOffset, c.layout.pixelOffset) << c.name;
        EXPECT_EQ(layout.pixelBytes, c.layout.pixelBytes) << c.name;
    }
}

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(OpaqueImageSizeTest, FromTheHeadersOfBitmapsGifsAndJpegs) {
    // A JPEG: start, an application segment, a table, then the frame header
    // (precision 8, height 48, width 64).
    const std::string start("\xFF\xD8", 2), app("\xFF\xE0\x00\x04\x00\x00", 6), huffman("\xFF\xC4\x00\x03\x00", 5);
    const std::string frame("\xFF\xC0\x00\x0B\x08\x00\x30\x00\x40\x01\x01\x11\x00", 13);
    const std::string progressive("\xFF\xC2\x00\x0B\x08\x00\x30\x00\x40\x01\x01\x11\x00", 13);
    const std::string scan("\xFF\xDA\x00\x02", 4);
    struct Case {
        const char* name;
        Bytes file;
        bool known;
        int32_t width, height;
    } cases[] = {
        {"plain bitmap", Bmp().bytes(), true, 3, 2},
        {"compressed bitmap", bmp([](Bmp& b) { b.bits = 8, b.compression = 1, b.width = 640, b.height = -480; })
                                  .bytes(),
         true, 640, 480},
        {"core header", bmp([](Bmp& b) { b.infoSize = 12, b.width = 20, b.height = 10; }).bytes(), true, 20, 10},
        {"bitmap too wide", bmp([](Bmp& b) { b.width = 40000; }).bytes(), false, 0, 0},
        {"bitmap header past the end", bmp([](Bmp& b) { b.infoSize = 0x17171717; b.fileSize = 300; }).bytes(), false,
         0, 0},
        {"GIF89a", bytes(std::string("GIF89a\x64\x00\x32\x00\xF7\x00\x00", 13)), true, 100, 50},
        {"GIF87a", bytes(std::string("GIF87a\x01\x01\x02\x00\x00\x00\x00", 13)), true, 257, 2},
        {"GIF cut short", bytes(std::string("GIF89a\x64\x00\x32\x00", 10)), false, 0, 0},
        {"GIF of no width", bytes(std::string("GIF89a\x00\x00\x32\x00\xF7\x00\x00", 13)), false, 0, 0},
        {"JPEG", bytes(start + app + huffman + frame), true, 64, 48},
        {"JPEG, fill bytes", bytes(start + "\xFF" + app + frame), true, 64, 48},
        {"progressive JPEG", bytes(start + progressive), true, 64, 48},
        {"JPEG, scan before any frame", bytes(start + app + scan + frame), false, 0, 0},
        {"JPEG, segment past the end", bytes(start + std::string("\xFF\xE0\x01\x00\x00\x00", 6) + frame), false, 0,
         0},
        {"JPEG, frame header cut short", bytes(start + frame.substr(0, 7)), false, 0, 0},
        {"JPEG, no marker", bytes(start + std::string("\x00\x10", 2) + frame), false, 0, 0},
        {"PNG", bytes(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x40\0\0\0\x30", 24)), false, 0, 0},
        {"empty", Bytes(), false, 0, 0},
    };
    for (const Case& c : cases) {
        int32_t width = -1, height = -1;
        ASSERT_EQ(opaqueImageSize(c.file.data(), c.file.size(), width, height), c.known) << c.name;
        if (!c.known) continue;
        EXPECT_EQ(width, c.width) << c.name;
        EXPECT_EQ(height, c.height) << c.name;
    }
}

}  // namespace
