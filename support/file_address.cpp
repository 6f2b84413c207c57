#include "support/file_address.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool startsWithNoCase(const NarrowString& text, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
        char c = i < text.size() ? text[i] : '\0';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool fileAddressPath(const NarrowString& address, NarrowString& path) {
    size_t start;
    if (startsWithNoCase(address, "file:///")) start = 7;
    else if (startsWithNoCase(address, "file://localhost/")) start = 16;
    else return false;
    NarrowString decoded;
    for (size_t i = start; i < address.size(); ++i) {
        char c = address[i];
        // A query or fragment is no part of a file's name.
        if (c == '?' || c == '#') return false;
        if (c == '%') {
            int high = i + 2 < address.size() ? hexValue(address[i + 1]) : -1;
            int low = high >= 0 ? hexValue(address[i + 2]) : -1;
            if (low < 0 || (high == 0 && low == 0)) return false;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += c;
        }
    }
    path = decoded;
    return true;
}
