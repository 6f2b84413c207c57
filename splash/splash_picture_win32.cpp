#include "splash/splash_picture_win32.h"

#include <string.h>
#include <wincodec.h>

#include "splash/image_header.h"
#include "splash/splash.h"
#include "support/gdi_win32.h"
#include "support/system_library_win32.h"

namespace {

// Declared here rather than linked from the uuid library.
const IID kIidPicture = {0x7BF80980, 0xBF32, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};
const IID kIidImagingFactory = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
const CLSID kClsidImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kPixelFormat32bppPBGRA = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

typedef HRESULT(WINAPI* CreateStreamOnHGlobalFunction)(HGLOBAL, BOOL, LPSTREAM*);
typedef HRESULT(WINAPI* OleLoadPictureFunction)(LPSTREAM, LONG, BOOL, REFIID, LPVOID*);
typedef HRESULT(WINAPI* CreateImagingFactoryFunction)(UINT, IWICImagingFactory**);
typedef HRESULT(WINAPI* CoCreateInstanceFunction)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

// Locks a global block for one scope.
class LockedBlock {
public:
    explicit LockedBlock(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
    ~LockedBlock() {
        if (data_) GlobalUnlock(block_);
    }
    LockedBlock(const LockedBlock&) = delete;
    LockedBlock& operator=(const LockedBlock&) = delete;
    uint8_t* data() const { return static_cast<uint8_t*>(data_); }

private:
    HGLOBAL block_;
    void* data_;
};

bool createImagingFactory(ComPointer<IWICImagingFactory>& factory) {
    CreateImagingFactoryFunction create =
        systemFunction<CreateImagingFactoryFunction>(L"windowscodecs.dll", "WICCreateImagingFactory_Proxy");
    if (create && SUCCEEDED(create(WINCODEC_SDK_VERSION, factory.out())) && factory) return true;
    // The registered class, where the library does not export its factory.
    CoCreateInstanceFunction coCreate = systemFunction<CoCreateInstanceFunction>(L"ole32.dll", "CoCreateInstance");
    return coCreate &&
           SUCCEEDED(coCreate(kClsidImagingFactory, nullptr, CLSCTX_INPROC_SERVER, kIidImagingFactory,
                              reinterpret_cast<void**>(factory.out()))) &&
           factory;
}

}  // namespace

SplashPicture::~SplashPicture() { release(); }

void SplashPicture::release() {
    releaseImage();
    if (block_) GlobalFree(block_);
    block_ = nullptr;
    length_ = 0;
}

void SplashPicture::releaseImage() {
    picture_.reset();
    if (section_) gdi()->deleteObject(section_);
    section_ = nullptr;
    alpha_ = false;
    himetricWidth_ = himetricHeight_ = 0;
    width_ = height_ = 0;
}

HBITMAP SplashPicture::releaseSection() {
    HBITMAP bitmap = section_;
    section_ = nullptr;
    return bitmap;
}

bool SplashPicture::readFile(const WideString& path) {
    release();
    // Relative paths are taken from the current directory as it is now.
    OwnedHandle file(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    LARGE_INTEGER size;
    // An oversized file, or one whose bytes cannot be allocated, simply gives
    // no picture: the splash never stops the process.
    if (!GetFileSizeEx(file.get(), &size) || !splashImageSizeAccepted(static_cast<uint64_t>(size.QuadPart)))
        return false;
    DWORD length = static_cast<DWORD>(size.QuadPart);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length);
    if (!block) return false;
    DWORD read = 0;
    bool ok;
    {
        LockedBlock bytes(block);
        ok = bytes.data() && ReadFile(file.get(), bytes.data(), length, &read, nullptr) && read > 0;
    }
    if (!ok) {
        GlobalFree(block);
        return false;
    }
    block_ = block;
    length_ = read;
    return true;
}

bool SplashPicture::loadFromMemory(const void* bytes, size_t length) {
    release();
    if (!splashImageSizeAccepted(length)) return false;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length);
    if (!block) return false;
    {
        LockedBlock copy(block);
        if (!copy.data()) {
            GlobalFree(block);
            return false;
        }
        memcpy(copy.data(), bytes, length);
    }
    block_ = block;
    length_ = length;
    return decodeBitmapFile() || decode();
}

bool SplashPicture::opaqueSize(int32_t& width, int32_t& height) const {
    if (!block_) return false;
    LockedBlock bytes(block_);
    return bytes.data() && opaqueImageSize(bytes.data(), length_, width, height);
}

bool SplashPicture::decodeBitmapFile() {
    releaseImage();
    const GdiFunctions* g = gdi();
    if (!g || !block_) return false;
    LockedBlock bytes(block_);
    BitmapFileLayout layout;
    if (!bytes.data() || !readBitmapFileLayout(bytes.data(), length_, layout)) return false;
    // The rows keep the file's order and padding: the section's header says
    // the same as the file's.
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = layout.width;
    info.bmiHeader.biHeight = layout.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = layout.bitsPerPixel;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    OwnedGdiObject section(g->createDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section.get() || !bits) return false;
    memcpy(bits, bytes.data() + layout.pixelOffset, layout.pixelBytes);
    section_ = static_cast<HBITMAP>(section.release());
    width_ = layout.width;
    height_ = layout.height < 0 ? -layout.height : layout.height;
    return true;
}

bool SplashPicture::decode() {
    releaseImage();
    if (!block_) return false;
    {
        // The imaging component reads the locked bytes in place.
        LockedBlock bytes(block_);
        if (!bytes.data()) return false;
        if (hasPngSignature(bytes.data(), length_)) return loadPng(bytes.data(), length_);
    }
    return loadPicture();
}

bool SplashPicture::loadPicture() {
    CreateStreamOnHGlobalFunction createStream =
        systemFunction<CreateStreamOnHGlobalFunction>(L"ole32.dll", "CreateStreamOnHGlobal");
    OleLoadPictureFunction loadPicture = systemFunction<OleLoadPictureFunction>(L"oleaut32.dll", "OleLoadPicture");
    ComPointer<IStream> stream;
    // The block stays this object's: the stream only reads it.
    if (!createStream || !loadPicture || FAILED(createStream(block_, FALSE, stream.out())) || !stream) return false;
    if (FAILED(loadPicture(stream.get(), static_cast<LONG>(length_), FALSE, kIidPicture,
                           reinterpret_cast<void**>(picture_.out()))) ||
        !picture_) {
        picture_.reset();
        return false;
    }
    const GdiFunctions* g = gdi();
    ScreenDC screen;
    if (!g || !screen.get() || FAILED(picture_->get_Width(&himetricWidth_)) ||
        FAILED(picture_->get_Height(&himetricHeight_))) {
        releaseImage();
        return false;
    }
    width_ = himetricToPixels(himetricWidth_, g->getDeviceCaps(screen.get(), LOGPIXELSX));
    height_ = himetricToPixels(himetricHeight_, g->getDeviceCaps(screen.get(), LOGPIXELSY));
    return true;
}

bool SplashPicture::loadPng(const uint8_t* bytes, size_t length) {
    const GdiFunctions* g = gdi();
    ComPointer<IWICImagingFactory> factory;
    if (!g || !createImagingFactory(factory)) return false;
    ComPointer<IWICStream> stream;
    ComPointer<IWICBitmapDecoder> decoder;
    ComPointer<IWICBitmapFrameDecode> frame;
    ComPointer<IWICFormatConverter> converter;
    UINT width = 0, height = 0;
    if (FAILED(factory->CreateStream(stream.out())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes), static_cast<DWORD>(length))) ||
        FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                                decoder.out())) ||
        FAILED(decoder->GetFrame(0, frame.out())) || FAILED(factory->CreateFormatConverter(converter.out())) ||
        FAILED(converter->Initialize(frame.get(), kPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&width, &height)))
        return false;
    // The pixels must fit one buffer whose size a 32-bit count can give.
    uint64_t stride = static_cast<uint64_t>(width) * 4;
    if (width == 0 || height == 0 || stride * height > 0x7FFFFFFF) return false;

    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as the decoder writes rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    OwnedGdiObject section(g->createDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section.get() || !bits ||
        FAILED(converter->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(stride * height),
                                     static_cast<BYTE*>(bits))))
        return false;
    section_ = static_cast<HBITMAP>(section.release());
    alpha_ = true;
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
    return true;
}

bool SplashPicture::render(HDC target, int32_t x, int32_t y, int32_t width, int32_t height) {
    const GdiFunctions* g = gdi();
    if (!g || !isLoaded()) return false;
    if (section_) {
        MemoryDC source(target, section_);
        return source.valid() && g->bitBlt(target, x, y, width, height, source.get(), 0, 0, SRCCOPY);
    }
    OwnedGdiObject bitmap(g->createCompatibleBitmap(target, width, height));
    MemoryDC intermediate(target, static_cast<HBITMAP>(bitmap.get()));
    if (!intermediate.valid()) return false;
    // Transparent areas of GIFs, icons and metafiles are left untouched by
    // the picture: they show the window colour, not whatever the new bitmap held.
    RECT whole = {0, 0, width, height};
    FillRect(intermediate.get(), &whole, GetSysColorBrush(COLOR_WINDOW));
    // The picture's source rectangle is upside down in HIMETRIC units.
    if (FAILED(picture_->Render(intermediate.get(), 0, 0, width, height, 0, himetricHeight_, himetricWidth_,
                                -himetricHeight_, nullptr)))
        return false;
    return g->bitBlt(target, x, y, width, height, intermediate.get(), 0, 0, SRCCOPY) != 0;
}
