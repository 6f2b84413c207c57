// WideString: the launcher's string of UTF-16 code units with an explicit
// length. Out-of-memory and out-of-range accesses stop the process at once
// (there is no error path for them in the launcher).
#ifndef SUPPORT_WIDE_STRING_H
#define SUPPORT_WIDE_STRING_H

#include <stddef.h>
#include <string>
#include <vector>

[[noreturn]] void fatalStop();

// Allocator for 8-bit strings. A distinct allocator makes the compiler
// instantiate the string code here instead of linking the C++ runtime's
// prebuilt std::string, which drags its exception machinery into the
// executables.
template <typename T>
struct LocalAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        typedef LocalAllocator<U> other;
    };
    LocalAllocator() = default;
    template <typename U>
    LocalAllocator(const LocalAllocator<U>&) {}
};

// 8-bit text: virtual-machine options (ANSI code page), UTF-8, raw bytes.
typedef std::basic_string<char, std::char_traits<char>, LocalAllocator<char>> NarrowString;

class WideString {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    WideString() = default;
    WideString(const char16_t* text);
    WideString(const char16_t* text, size_t length);
    explicit WideString(const std::u16string& text) : text_(text) {}

    size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    const char16_t* data() const { return text_.c_str(); }
    const std::u16string& str() const { return text_; }

    char16_t operator[](size_t index) const;
    char16_t last() const;  // the last unit; stops the process when empty

    WideString& operator+=(const WideString& other);
    WideString& operator+=(const char16_t* other);
    WideString& operator+=(char16_t unit);
    void append(const char16_t* text, size_t length);
    void clear() { text_.clear(); }

    // Position of the first/last occurrence, or npos.
    size_t find(char16_t unit, size_t from = 0) const;
    size_t find(const WideString& needle, size_t from = 0) const;
    size_t findLast(char16_t unit) const;

    // Units [from, from + length); stops the process when outside the string.
    WideString substr(size_t from, size_t length = npos) const;
    WideString left(size_t length) const { return substr(0, length); }

    bool startsWith(const WideString& prefix) const;
    bool endsWith(const WideString& suffix) const;
    bool endsWith(char16_t unit) const { return !empty() && last() == unit; }
    // Equality ignoring the case of the letters A to Z only.
    bool equalsIgnoreAsciiCase(const WideString& other) const;

    void replaceAll(char16_t from, char16_t to);

    bool operator==(const WideString& other) const { return text_ == other.text_; }
    bool operator!=(const WideString& other) const { return text_ != other.text_; }

private:
    std::u16string text_;
};

WideString operator+(const WideString& a, const WideString& b);
WideString operator+(const WideString& a, const char16_t* b);
WideString operator+(const WideString& a, char16_t b);
WideString operator+(char16_t a, const WideString& b);

// Ordered growable arrays of values, owned by whoever holds them.
template <typename T>
using List = std::vector<T>;

// Splits at every occurrence of separator: pieces between separators remain
// even when empty, and a separator at the very end adds no empty piece.
List<WideString> splitAt(const WideString& text, char16_t separator);
// Replaces each %NAME% that lookup knows by its value, as the Windows
// environment expansion does: an unknown name stays as written, and its
// closing "%" may open the next reference.
WideString expandPercentReferences(const WideString& text, bool (*lookup)(const WideString& name, WideString& value));

// Decimal text of a signed or unsigned number.
WideString decimal(long long value);
WideString decimalUnsigned(unsigned long long value);

// UTF-8 <-> UTF-16 (lossless for valid input; invalid bytes become U+FFFD).
WideString fromUtf8(const char* text, size_t length);
NarrowString toUtf8(const WideString& text);
// The same for text that may hold bytes that are no UTF-8 (a name from a
// file system): each stands for itself as U+DC80 + byte, and goes back as
// that byte.
WideString fromUtf8KeepingBytes(const char* text, size_t length);
NarrowString toUtf8KeepingBytes(const WideString& text);

#endif
