#include "support/gdi_win32.h"

#include "support/system_library_win32.h"

const GdiFunctions* gdi() {
    static GdiFunctions functions;
    static bool loaded = false;
    if (loaded) return &functions;
    // Loading is idempotent, so two threads that race here fill the same values.
    const wchar_t* library = L"gdi32.dll";
    GdiFunctions found;
    found.createCompatibleDC = systemFunction<decltype(found.createCompatibleDC)>(library, "CreateCompatibleDC");
    found.deleteDC = systemFunction<decltype(found.deleteDC)>(library, "DeleteDC");
    found.createCompatibleBitmap =
        systemFunction<decltype(found.createCompatibleBitmap)>(library, "CreateCompatibleBitmap");
    found.createDIBSection = systemFunction<decltype(found.createDIBSection)>(library, "CreateDIBSection");
    found.selectObject = systemFunction<decltype(found.selectObject)>(library, "SelectObject");
    found.deleteObject = systemFunction<decltype(found.deleteObject)>(library, "DeleteObject");
    found.bitBlt = systemFunction<decltype(found.bitBlt)>(library, "BitBlt");
    found.getDeviceCaps = systemFunction<decltype(found.getDeviceCaps)>(library, "GetDeviceCaps");
    found.setBkMode = systemFunction<decltype(found.setBkMode)>(library, "SetBkMode");
    found.setTextColor = systemFunction<decltype(found.setTextColor)>(library, "SetTextColor");
    found.getObject = systemFunction<decltype(found.getObject)>(library, "GetObjectW");
    found.createFontIndirect = systemFunction<decltype(found.createFontIndirect)>(library, "CreateFontIndirectW");
    found.getStockObject = systemFunction<decltype(found.getStockObject)>(library, "GetStockObject");
    if (!found.createCompatibleDC || !found.deleteDC || !found.createCompatibleBitmap || !found.createDIBSection ||
        !found.selectObject || !found.deleteObject || !found.bitBlt || !found.getDeviceCaps || !found.setBkMode ||
        !found.setTextColor || !found.getObject || !found.createFontIndirect || !found.getStockObject)
        return nullptr;
    functions = found;
    loaded = true;
    return &functions;
}

MemoryDC::MemoryDC(HDC compatibleWith, HBITMAP bitmap) {
    const GdiFunctions* g = gdi();
    if (!g || !bitmap) return;
    dc_ = g->createCompatibleDC(compatibleWith);
    if (!dc_) return;
    previous_ = g->selectObject(dc_, bitmap);
    selected_ = previous_ != nullptr && previous_ != HGDI_ERROR;
}

MemoryDC::~MemoryDC() {
    if (!dc_) return;
    const GdiFunctions* g = gdi();
    // The bitmap is handed back before the context goes, so its owner can delete it.
    if (selected_) g->selectObject(dc_, previous_);
    g->deleteDC(dc_);
}

void OwnedGdiObject::reset(HGDIOBJ object) {
    if (object_) gdi()->deleteObject(object_);
    object_ = object;
}
