// Small helpers for the Win32 edge: UTF-16 text at the API boundary and
// owners that close handles, keys, libraries and views on every path.
#ifndef SUPPORT_WIN32_H
#define SUPPORT_WIN32_H

#include <windows.h>

#include "support/wide_string.h"

inline const wchar_t* wide(const WideString& text) { return reinterpret_cast<const wchar_t*>(text.data()); }
inline WideString fromWide(const wchar_t* text) { return WideString(reinterpret_cast<const char16_t*>(text)); }
inline WideString fromWide(const wchar_t* text, size_t length) {
    return WideString(reinterpret_cast<const char16_t*>(text), length);
}

class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_ = nullptr;
};

class OwnedKey {
public:
    OwnedKey() = default;
    ~OwnedKey() {
        if (key_) RegCloseKey(key_);
    }
    OwnedKey(const OwnedKey&) = delete;
    OwnedKey& operator=(const OwnedKey&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class OwnedFind {
public:
    explicit OwnedFind(HANDLE find) : find_(find) {}
    ~OwnedFind() {
        if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
    }
    OwnedFind(const OwnedFind&) = delete;
    OwnedFind& operator=(const OwnedFind&) = delete;
    bool valid() const { return find_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return find_; }

private:
    HANDLE find_;
};

// Owns one reference of a COM interface pointer.
template <typename Interface>
class ComPointer {
public:
    ComPointer() = default;
    ~ComPointer() { reset(); }
    ComPointer(const ComPointer&) = delete;
    ComPointer& operator=(const ComPointer&) = delete;
    Interface** out() {
        reset();
        return &pointer_;
    }
    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    void reset() {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }

private:
    Interface* pointer_ = nullptr;
};

#endif
