// Helpers for the Windows-side tests: scratch folders, files and registry
// keys that are removed again.
#ifndef TESTS_WIN_WIN_TEST_SUPPORT_H
#define TESTS_WIN_WIN_TEST_SUPPORT_H

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "support/win32.h"
#include "support/wide_string.h"

inline WideString W(const wchar_t* text) { return fromWide(text); }
inline std::wstring S(const WideString& text) { return std::wstring(wide(text), text.size()); }

class TempFolder {
public:
    TempFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static int counter = 0;
        path_ = std::wstring(base) + L"launcher-win-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter) + L"\\";
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        std::wstring from = path_ + L'\0';
        SHFILEOPSTRUCTW op = {};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NO_UI;
        SHFileOperationW(&op);
    }
    const std::wstring& path() const { return path_; }
    WideString wpath() const { return fromWide(path_.c_str()); }
    std::wstring write(const std::wstring& relative, const std::string& bytes) {
        std::wstring full = path_ + relative;
        for (size_t i = path_.size(); i < full.size(); ++i)
            if (full[i] == L'\\') CreateDirectoryW(full.substr(0, i).c_str(), nullptr);
        HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        return full;
    }

private:
    std::wstring path_;
};

// A registry tree under HKEY_LOCAL_MACHINE in one view, deleted afterwards.
class TestKey {
public:
    TestKey(const std::wstring& path, REGSAM view) : path_(path), view_(view) {}
    ~TestKey() { RegDeleteTreeW(root(), nullptr), closeRoot(); }
    void set(const std::wstring& subkey, const std::wstring& name, const std::wstring& value) {
        HKEY key;
        std::wstring full = path_ + L"\\" + subkey;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        if (!name.empty())
            RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

private:
    HKEY root() {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_ALL_ACCESS | view_, &root_) != ERROR_SUCCESS)
            root_ = nullptr;
        return root_;
    }
    void closeRoot() {
        if (root_) {
            RegCloseKey(root_);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), view_, 0);
        }
    }
    std::wstring path_;
    REGSAM view_;
    HKEY root_ = nullptr;
};

#endif
