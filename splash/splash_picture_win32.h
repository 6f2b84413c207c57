// SplashPicture: the splash image, decoded only while the window is made.
#ifndef SPLASH_SPLASH_PICTURE_WIN32_H
#define SPLASH_SPLASH_PICTURE_WIN32_H

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <stdint.h>

#include "support/wide_string.h"
#include "support/win32.h"

// A plain 24- or 32-bit bitmap file is copied into a section by hand, so
// that the first splash needs no library beyond gdi32. Other formats go
// through the platform's picture loader (bitmaps, JPEG, GIF, icons,
// metafiles). A PNG file is told by its signature and decoded by the
// imaging component into premultiplied 32-bit pixels with their alpha, which
// only a layered window shows as they are; the picture loader reads PNG on
// some systems and not on others, and the signature keeps one behaviour.
class SplashPicture {
public:
    SplashPicture() = default;
    ~SplashPicture();
    SplashPicture(const SplashPicture&) = delete;
    SplashPicture& operator=(const SplashPicture&) = delete;

    // Takes in the file's bytes; false for a file that is missing, empty,
    // unreadable or over the size limit.
    bool readFile(const WideString& path);
    // Decodes the bytes taken in: a plain bitmap file by hand, without COM.
    bool decodeBitmapFile();
    // Decodes the bytes taken in with the decoders, which need COM entered
    // on this thread.
    bool decode();
    // Takes in a copy of the bytes and decodes them in either way.
    bool loadFromMemory(const void* bytes, size_t length);

    // The size an opaque image's header gives, before it is decoded.
    bool opaqueSize(int32_t& width, int32_t& height) const;
    bool isLoaded() const { return picture_.get() != nullptr || section_ != nullptr; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // Draws the whole picture scaled to width x height at (x, y), opaquely.
    bool render(HDC target, int32_t x, int32_t y, int32_t width, int32_t height);

    // The pixels already sit in a 32-bit section with premultiplied alpha
    // (a PNG's), or an opaque one (a plain bitmap file's).
    bool hasSection() const { return section_ != nullptr; }
    bool hasAlpha() const { return section_ != nullptr && alpha_; }
    // Hands the section to the caller, who deletes it.
    HBITMAP releaseSection();

private:
    void release();
    void releaseImage();
    bool loadPicture();
    bool loadPng(const uint8_t* bytes, size_t length);

    // The file's bytes, in the movable block a memory stream reads.
    HGLOBAL block_ = nullptr;
    size_t length_ = 0;
    ComPointer<IPicture> picture_;
    HBITMAP section_ = nullptr;
    bool alpha_ = false;
    OLE_XSIZE_HIMETRIC himetricWidth_ = 0;
    OLE_YSIZE_HIMETRIC himetricHeight_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

#endif
