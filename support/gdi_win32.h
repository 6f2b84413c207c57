// The graphics functions that only windows need (the splash window and the
// download link), loaded from gdi32 on demand so that a launch without them
// does not import them, and owners for the device contexts and objects they make.
#ifndef SUPPORT_GDI_WIN32_H
#define SUPPORT_GDI_WIN32_H

#include <windows.h>

struct GdiFunctions {
    decltype(&CreateCompatibleDC) createCompatibleDC;
    decltype(&DeleteDC) deleteDC;
    decltype(&CreateCompatibleBitmap) createCompatibleBitmap;
    decltype(&CreateDIBSection) createDIBSection;
    decltype(&SelectObject) selectObject;
    decltype(&DeleteObject) deleteObject;
    decltype(&BitBlt) bitBlt;
    decltype(&GetDeviceCaps) getDeviceCaps;
    decltype(&SetBkMode) setBkMode;
    decltype(&SetTextColor) setTextColor;
    decltype(&GetObjectW) getObject;
    decltype(&CreateFontIndirectW) createFontIndirect;
    decltype(&GetStockObject) getStockObject;
};

// The table, or null when gdi32 or one of its functions is missing.
const GdiFunctions* gdi();

// A memory device context with one bitmap selected into it for its life.
class MemoryDC {
public:
    MemoryDC(HDC compatibleWith, HBITMAP bitmap);
    ~MemoryDC();
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    HDC get() const { return dc_; }
    bool valid() const { return dc_ && selected_; }

private:
    HDC dc_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    bool selected_ = false;
};

// A bitmap (or other GDI object) deleted with its owner unless released.
class OwnedGdiObject {
public:
    explicit OwnedGdiObject(HGDIOBJ object = nullptr) : object_(object) {}
    ~OwnedGdiObject() { reset(); }
    OwnedGdiObject(const OwnedGdiObject&) = delete;
    OwnedGdiObject& operator=(const OwnedGdiObject&) = delete;
    HGDIOBJ get() const { return object_; }
    void reset(HGDIOBJ object = nullptr);
    HGDIOBJ release() {
        HGDIOBJ object = object_;
        object_ = nullptr;
        return object;
    }

private:
    HGDIOBJ object_;
};

// The screen's device context, released with its owner.
class ScreenDC {
public:
    ScreenDC() : dc_(GetDC(nullptr)) {}
    ~ScreenDC() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

#endif
