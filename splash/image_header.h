// What the first bytes of a splash image file tell without a decoder: the
// layout of a plain Windows bitmap, whose pixels are copied as they are, and
// the size of other opaque images, so that the window can show its colour
// at that size while the decoder is still being loaded.
#ifndef SPLASH_IMAGE_HEADER_H
#define SPLASH_IMAGE_HEADER_H

#include <stddef.h>
#include <stdint.h>

// An uncompressed 24- or 32-bit bitmap file, every part inside the file.
struct BitmapFileLayout {
    int32_t width;        // pixels, above 0
    int32_t height;       // as in the file: negative for rows stored top-down
    uint16_t bitsPerPixel;  // 24 or 32
    uint32_t pixelOffset;  // where the rows begin
    uint32_t pixelBytes;   // rows padded to 4 bytes, all of them
};
// False for every other file, including other bitmap kinds (palettes,
// compression, bit fields), which the general decoder reads.
bool readBitmapFileLayout(const uint8_t* bytes, size_t length, BitmapFileLayout& layout);

// The pixel size of a bitmap, JPEG or GIF file from its header; false for
// other files (a PNG among them: it may be transparent) and for sides
// longer than 32767 pixels.
bool opaqueImageSize(const uint8_t* bytes, size_t length, int32_t& width, int32_t& height);

#endif
