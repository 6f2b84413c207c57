#include "support/wide_string.h"

#include <stdlib.h>
#include <string.h>

WideString::WideString(const char16_t* text) {
    if (text) text_ = text;
}

WideString::WideString(const char16_t* text, size_t length) : text_(text, length) {}

char16_t WideString::operator[](size_t index) const {
    if (index >= text_.size()) fatalStop();
    return text_[index];
}

char16_t WideString::last() const {
    if (text_.empty()) fatalStop();
    return text_.back();
}

WideString& WideString::operator+=(const WideString& other) {
    text_ += other.text_;
    return *this;
}

WideString& WideString::operator+=(const char16_t* other) {
    text_ += other;
    return *this;
}

WideString& WideString::operator+=(char16_t unit) {
    text_ += unit;
    return *this;
}

void WideString::append(const char16_t* text, size_t length) { text_.append(text, length); }

size_t WideString::find(char16_t unit, size_t from) const {
    size_t at = text_.find(unit, from);
    return at == std::u16string::npos ? npos : at;
}

size_t WideString::find(const WideString& needle, size_t from) const {
    size_t at = text_.find(needle.text_, from);
    return at == std::u16string::npos ? npos : at;
}

size_t WideString::findLast(char16_t unit) const {
    size_t at = text_.rfind(unit);
    return at == std::u16string::npos ? npos : at;
}

WideString WideString::substr(size_t from, size_t length) const {
    if (from > text_.size()) fatalStop();
    if (length != npos && length > text_.size() - from) fatalStop();
    return WideString(text_.substr(from, length));
}

bool WideString::startsWith(const WideString& prefix) const {
    return text_.size() >= prefix.size() && text_.compare(0, prefix.size(), prefix.text_) == 0;
}

bool WideString::endsWith(const WideString& suffix) const {
    return text_.size() >= suffix.size() &&
           text_.compare(text_.size() - suffix.size(), suffix.size(), suffix.text_) == 0;
}

static char16_t lowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c; }

bool WideString::equalsIgnoreAsciiCase(const WideString& other) const {
    if (size() != other.size()) return false;
    for (size_t i = 0; i < size(); ++i)
        if (lowerAscii(text_[i]) != lowerAscii(other.text_[i])) return false;
    return true;
}

void WideString::replaceAll(char16_t from, char16_t to) {
    for (char16_t& c : text_)
        if (c == from) c = to;
}

WideString operator+(const WideString& a, const WideString& b) {
    WideString result(a);
    result += b;
    return result;
}

WideString operator+(const WideString& a, const char16_t* b) {
    WideString result(a);
    result += b;
    return result;
}

List<WideString> splitAt(const WideString& text, char16_t separator) {
    List<WideString> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t at = text.find(separator, start);
        if (at == WideString::npos) {
            pieces.push_back(text.substr(start));
            break;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    return pieces;
}

WideString decimalUnsigned(unsigned long long value) {
    char16_t digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value);
    WideString result;
    while (count) result += digits[--count];
    return result;
}

WideString decimal(long long value) {
    if (value >= 0) return decimalUnsigned(static_cast<unsigned long long>(value));
    // Negate in unsigned arithmetic so the smallest value prints correctly.
    return u"-" + decimalUnsigned(0ULL - static_cast<unsigned long long>(value));
}

// A byte that is no UTF-8 becomes U+FFFD, or, keeping bytes, U+DC80 + byte.
static WideString decodeUtf8(const char* text, size_t length, bool keepBytes) {
    WideString result;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char c = p[i];
        unsigned long code;
        size_t extra;
        if (c < 0x80) { code = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { code = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { code = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { code = c & 0x07; extra = 3; }
        else { result += keepBytes ? static_cast<char16_t>(0xDC00 + c) : u'\uFFFD'; ++i; continue; }
        bool valid = true;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= length || (p[i + k] & 0xC0) != 0x80) { valid = false; break; }
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        static const unsigned long minimum[4] = {0, 0x80, 0x800, 0x10000};
        if (!valid || code < minimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            result += keepBytes && c >= 0x80 ? static_cast<char16_t>(0xDC00 + c) : u'\uFFFD';
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            result += static_cast<char16_t>(0xD800 + (code >> 10));
            result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            result += static_cast<char16_t>(code);
        }
        i += extra + 1;
    }
    return result;
}

WideString fromUtf8(const char* text, size_t length) { return decodeUtf8(text, length, false); }

WideString fromUtf8KeepingBytes(const char* text, size_t length) { return decodeUtf8(text, length, true); }

static NarrowString encodeUtf8(const WideString& text, bool keepBytes) {
    NarrowString out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long code = text[i];
        bool lowAlone = code >= 0xDC80 && code <= 0xDCFF && (i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF);
        if (keepBytes && lowAlone) {
            out += static_cast<char>(code - 0xDC00);
            continue;
        }
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

NarrowString toUtf8(const WideString& text) { return encodeUtf8(text, false); }

NarrowString toUtf8KeepingBytes(const WideString& text) { return encodeUtf8(text, true); }

WideString operator+(const WideString& a, char16_t b) {
    WideString result(a);
    result += b;
    return result;
}

WideString operator+(char16_t a, const WideString& b) {
    WideString result(&a, 1);
    result += b;
    return result;
}

WideString expandPercentReferences(const WideString& text, bool (*lookup)(const WideString& name, WideString& value)) {
    WideString result;
    size_t at = 0;
    while (at < text.size()) {
        size_t open = text.find(u'%', at);
        size_t close = open == WideString::npos ? WideString::npos : text.find(u'%', open + 1);
        if (close == WideString::npos) {
            result += text.substr(at);
            break;
        }
        WideString name = text.substr(open + 1, close - open - 1);
        WideString value;
        result += text.substr(at, open - at);
        if (!name.empty() && lookup(name, value)) {
            result += value;
            at = close + 1;
        } else {
            result += text.substr(open, close - open);
            at = close;
        }
    }
    return result;
}
