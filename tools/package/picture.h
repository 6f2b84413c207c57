// The application's icon picture: read from a PNG, scaled to the sizes the
// systems ask for, and written as PNG files and as a Windows icon file.
#ifndef TOOLS_PACKAGE_PICTURE_H
#define TOOLS_PACKAGE_PICTURE_H

#include <string>
#include <vector>

#include "tools/brand/bytes.h"

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    Bytes rgba;  // 4 bytes a pixel, rows top down, straight alpha
};

// The size from the PNG's header; false when the bytes are no PNG.
bool pngSize(const Bytes& file, uint32_t& width, uint32_t& height);

// Reads an 8-bit PNG (grey, grey with alpha, RGB, RGBA or a palette, not
// interlaced); false with error otherwise.
bool readPng(const Bytes& file, Picture& picture, std::string& error);

// The picture scaled to size x size (area averaging, weighted by alpha).
Picture scaledPicture(const Picture& picture, uint32_t size);

Bytes pngFile(const Picture& picture);

// An .ico file of the picture at each size: PNG images from 64 pixels on,
// 32-bit bitmaps below (which every Windows version shows).
Bytes iconFile(const Picture& picture, const std::vector<uint32_t>& sizes);

#endif
