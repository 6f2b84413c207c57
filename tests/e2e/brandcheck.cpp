// e2e_brandcheck: reads a branded executable back through the system's own
// functions and writes what they report as JSON: the icon group and its
// images (LoadImage, ExtractIcon), every version field (GetFileVersionInfo,
// VerQueryValue), the built-in settings and the message table
// (FindResource, LoadString) and the image checksum (MapFileAndCheckSum),
// and the icon as DrawIconEx paints it.
//
// Usage: e2e_brandcheck.exe <program.exe> <result.json>
#include <windows.h>
#include <imagehlp.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size, nullptr, nullptr);
    return out;
}

std::string jsonText(const std::wstring& text) {
    std::string out = "\"";
    for (char c : utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if ((unsigned char)c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", (unsigned char)c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string hex(const void* data, size_t size) {
    std::string out;
    char digits[3];
    for (size_t i = 0; i < size; ++i) {
        snprintf(digits, sizeof digits, "%02x", static_cast<const unsigned char*>(data)[i]);
        out += digits;
    }
    return out;
}

std::string number(unsigned long long value) { return std::to_string(value); }

std::string resourceName(LPCWSTR name) {
    return IS_INTRESOURCE(name) ? number((ULONG_PTR)name) : jsonText(name);
}

BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<std::string>*>(list)->push_back(resourceName(name));
    return TRUE;
}

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<std::string>*>(list)->push_back(number(language));
    return TRUE;
}

std::string list(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
    return out + "]";
}

std::string resourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return "null";
    const void* data = LockResource(LoadResource(module, found));
    return data ? "\"" + hex(data, SizeofResource(module, found)) + "\"" : "null";
}

// The icon as the system draws it (DrawIconEx) at 32x32 on a white 48x48
// picture: top-down BGRA rows in hex.
std::string drawnIcon(HICON icon) {
    const int size = 48;
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = size;
    header.bmiHeader.biHeight = -size;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP picture = CreateDIBSection(dc, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!picture || !bits) {
        DeleteDC(dc);
        return "null";
    }
    HGDIOBJ old = SelectObject(dc, picture);
    memset(bits, 0xFF, size * size * 4);
    DrawIconEx(dc, 8, 8, icon, 32, 32, 0, nullptr, DI_NORMAL);
    GdiFlush();
    std::string out = "{\"width\": 48, \"height\": 48, \"pixels\": \"" + hex(bits, size * size * 4) + "\"}";
    SelectObject(dc, old);
    DeleteObject(picture);
    DeleteDC(dc);
    return out;
}

// The first icon group, its directory as the system hands it out, and its
// 32x32 image as LoadImage makes it (size and the centre pixel).
std::string iconReport(HMODULE module, const std::wstring& path) {
    std::vector<std::string> groups;
    EnumResourceNamesW(module, RT_GROUP_ICON, collectName, (LONG_PTR)&groups);
    std::string out = "{\"groups\": " + list(groups);
    HRSRC group = nullptr;
    LPCWSTR groupName = nullptr;
    if (!groups.empty() && groups[0][0] != '"') {
        groupName = MAKEINTRESOURCEW(std::stoul(groups[0]));
        group = FindResourceW(module, groupName, RT_GROUP_ICON);
    }
    std::vector<std::string> images;
    if (group) {
        const BYTE* directory = (const BYTE*)LockResource(LoadResource(module, group));
        WORD count = *(const WORD*)(directory + 4);
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = directory + 6 + 14 * i;
            WORD id = *(const WORD*)(entry + 12);
            std::string image = "{\"width\": " + number(entry[0] ? entry[0] : 256) +
                                ", \"height\": " + number(entry[1] ? entry[1] : 256) +
                                ", \"bits\": " + number(*(const WORD*)(entry + 6)) +
                                ", \"size\": " + number(*(const DWORD*)(entry + 8)) + ", \"id\": " + number(id) +
                                ", \"data\": " + resourceBytes(module, RT_ICON, MAKEINTRESOURCEW(id)) + "}";
            images.push_back(image);
        }
    }
    out += ", \"images\": " + list(images);

    HICON icon = groupName ? (HICON)LoadImageW(module, groupName, IMAGE_ICON, 32, 32, 0) : nullptr;
    out += ", \"loaded\": ";
    ICONINFO info = {};
    if (icon && GetIconInfo(icon, &info)) {
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        BITMAPINFO header = {};
        header.bmiHeader.biSize = sizeof header.bmiHeader;
        header.bmiHeader.biWidth = bitmap.bmWidth;
        header.bmiHeader.biHeight = -bitmap.bmHeight;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 32;
        std::vector<DWORD> pixels(bitmap.bmWidth * bitmap.bmHeight);
        HDC screen = GetDC(nullptr);
        GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &header, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        DWORD centre = pixels[(bitmap.bmHeight / 2) * bitmap.bmWidth + bitmap.bmWidth / 2];
        out += "{\"width\": " + number(bitmap.bmWidth) + ", \"height\": " + number(bitmap.bmHeight) +
               ", \"centre\": \"" + hex(&centre, 4) + "\"}";
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        out += ", \"drawn\": " + drawnIcon(icon);
        DestroyIcon(icon);
    } else {
        out += "null";
    }
    UINT extractable = ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0);
    HICON extracted = ExtractIconW(GetModuleHandleW(nullptr), path.c_str(), 0);
    out += ", \"extract_count\": " + number(extractable) +
           ", \"extracted\": " + ((UINT_PTR)extracted > 1 ? "true" : "false") + "}";
    if ((UINT_PTR)extracted > 1) DestroyIcon(extracted);
    return out;
}

std::string versionReport(const std::wstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (!size) return "null";
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return "null";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    std::string out = "{";
    if (VerQueryValueW(block.data(), L"\\", (void**)&fixed, &length) && fixed) {
        char text[128];
        snprintf(text, sizeof text, "\"file\": \"%u.%u.%u.%u\", \"product\": \"%u.%u.%u.%u\", ",
                 HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                 LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                 HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
        out += text;
        out += "\"file_type\": " + number(fixed->dwFileType) + ", ";
    }
    WORD* translation = nullptr;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void**)&translation, &length) || length < 4)
        return out + "\"translation\": null}";
    out += "\"translation\": [" + number(translation[0]) + ", " + number(translation[1]) + "], \"strings\": {";
    const wchar_t* keys[] = {L"CompanyName",     L"FileDescription",  L"FileVersion", L"InternalName",
                             L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"};
    bool first = true;
    for (const wchar_t* key : keys) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], key);
        wchar_t* value = nullptr;
        if (!VerQueryValueW(block.data(), query, (void**)&value, &length) || !value) continue;
        out += std::string(first ? "" : ", ") + jsonText(key) + ": " + jsonText(std::wstring(value));
        first = false;
    }
    return out + "}}";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: e2e_brandcheck <program.exe> <result.json>\n");
        return 2;
    }
    std::wstring path = argv[1];
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::string json = "{\"opened\": " + std::string(module ? "true" : "false");
    if (module) {
        json += ", \"icon\": " + iconReport(module, path);
        std::vector<std::string> languages;
        EnumResourceLanguagesW(module, RT_RCDATA, L"SETTINGS", collectLanguage, (LONG_PTR)&languages);
        json += ", \"settings\": " + resourceBytes(module, RT_RCDATA, L"SETTINGS") +
                ", \"settings_languages\": " + list(languages);
        std::vector<std::string> messages;
        for (UINT id = 202; id <= 230; ++id) {
            const wchar_t* text = nullptr;
            int length = LoadStringW(module, id, (LPWSTR)&text, 0);
            messages.push_back(length > 0 ? jsonText(std::wstring(text, length)) : "null");
        }
        json += ", \"messages\": " + list(messages);
        std::vector<std::string> manifests;
        EnumResourceNamesW(module, MAKEINTRESOURCEW(24), collectName, (LONG_PTR)&manifests);
        json += ", \"manifests\": " + list(manifests);
        FreeLibrary(module);
    }
    json += ", \"version\": " + versionReport(path);
    DWORD headerSum = 0, computedSum = 0;
    DWORD status = MapFileAndCheckSumW(path.c_str(), &headerSum, &computedSum);
    json += ", \"checksum\": {\"status\": " + number(status) + ", \"header\": " + number(headerSum) +
            ", \"computed\": " + number(computedSum) + "}}\n";
    FILE* out = _wfopen(argv[2], L"wb");
    if (!out) return 3;
    fwrite(json.data(), 1, json.size(), out);
    fclose(out);
    return 0;
}
