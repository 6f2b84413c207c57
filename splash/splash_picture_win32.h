// SplashPicture: the splash image, decoded only while the window is made.
#ifndef SPLASH_SPLASH_PICTURE_WIN32_H
#define SPLASH_SPLASH_PICTURE_WIN32_H

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <stdint.h>

#include "support/wide_string.h"
#include "support/win32.h"

// Most formats go through the platform's picture loader (bitmaps, JPEG, GIF,
// icons, metafiles). A PNG file is told by its signature and decoded by the
// imaging component into premultiplied 32-bit pixels with their alpha, which
// only a layered window shows as they are; the picture loader reads PNG on
// some systems and not on others, and the signature keeps one behaviour.
class SplashPicture {
public:
    SplashPicture() = default;
    ~SplashPicture();
    SplashPicture(const SplashPicture&) = delete;
    SplashPicture& operator=(const SplashPicture&) = delete;

    bool loadFromFile(const WideString& path);
    bool loadFromMemory(const void* bytes, size_t length);
    bool isLoaded() const { return picture_.get() != nullptr || alphaBitmap_ != nullptr; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // Draws the whole picture scaled to width x height at (x, y), opaquely.
    bool render(HDC target, int32_t x, int32_t y, int32_t width, int32_t height);

    // A PNG's pixels: a top-down 32-bit section with premultiplied alpha.
    bool hasAlpha() const { return alphaBitmap_ != nullptr; }
    // Hands that section to the caller, who deletes it.
    HBITMAP releaseAlphaBitmap();

private:
    void release();
    // Takes the block (freed here on every path) holding `length` bytes.
    bool loadFromBlock(HGLOBAL block, size_t length);
    bool loadPicture(HGLOBAL block, size_t length);
    bool loadPng(const uint8_t* bytes, size_t length);

    ComPointer<IPicture> picture_;
    HBITMAP alphaBitmap_ = nullptr;
    OLE_XSIZE_HIMETRIC himetricWidth_ = 0;
    OLE_YSIZE_HIMETRIC himetricHeight_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

#endif
