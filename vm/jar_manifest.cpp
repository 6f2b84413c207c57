#include "vm/jar_manifest.h"

#include <string.h>

// --- Inflating ----------------------------------------------------------------

namespace {

struct Bits {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t buffer = 0;
    int count = 0;
    bool failed = false;

    uint32_t take(int need) {
        while (count < need) {
            if (at >= size) {
                failed = true;
                return 0;
            }
            buffer |= static_cast<uint32_t>(data[at++]) << count;
            count += 8;
        }
        uint32_t value = buffer & ((1u << need) - 1);
        buffer >>= need;
        count -= need;
        return value;
    }
};

// A canonical Huffman code: how many codes of each length, and the symbols
// in code order.
struct Huffman {
    uint16_t counts[16];
    uint16_t symbols[288];
};

bool build(Huffman& code, const uint8_t* lengths, int number) {
    memset(code.counts, 0, sizeof code.counts);
    for (int symbol = 0; symbol < number; ++symbol) ++code.counts[lengths[symbol]];
    code.counts[0] = 0;
    int left = 1;
    for (int length = 1; length < 16; ++length) {
        left = (left << 1) - code.counts[length];
        if (left < 0) return false;  // more codes than the lengths allow
    }
    uint16_t offsets[16] = {0, 0};
    for (int length = 1; length < 15; ++length) offsets[length + 1] = offsets[length] + code.counts[length];
    for (int symbol = 0; symbol < number; ++symbol)
        if (lengths[symbol]) code.symbols[offsets[lengths[symbol]]++] = static_cast<uint16_t>(symbol);
    return true;
}

int decode(Bits& in, const Huffman& code) {
    int value = 0, first = 0, index = 0;
    for (int length = 1; length < 16; ++length) {
        value |= static_cast<int>(in.take(1));
        if (in.failed) return -1;
        const int count = code.counts[length];
        if (value - count < first) return code.symbols[index + (value - first)];
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool inflateCodes(Bits& in, const Huffman& lengths, const Huffman& distances, size_t limit, NarrowString& out) {
    for (;;) {
        int symbol = decode(in, lengths);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (out.size() >= limit) return false;
            out += static_cast<char>(symbol);
            continue;
        }
        if (symbol == 256) return true;
        symbol -= 257;
        if (symbol >= 29) return false;
        const size_t length = kLengthBase[symbol] + in.take(kLengthExtra[symbol]);
        const int code = decode(in, distances);
        if (code < 0 || code >= 30) return false;
        const size_t distance = kDistanceBase[code] + in.take(kDistanceExtra[code]);
        if (in.failed || distance > out.size() || length > limit - out.size()) return false;
        const size_t from = out.size() - distance;
        for (size_t i = 0; i < length; ++i) out += out[from + i];
    }
}

bool inflateDynamic(Bits& in, size_t limit, NarrowString& out) {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int lengthCount = static_cast<int>(in.take(5)) + 257;
    const int distanceCount = static_cast<int>(in.take(5)) + 1;
    const int codeCount = static_cast<int>(in.take(4)) + 4;
    if (in.failed || lengthCount > 286 || distanceCount > 30) return false;
    uint8_t lengths[320] = {};
    for (int i = 0; i < codeCount; ++i) lengths[kOrder[i]] = static_cast<uint8_t>(in.take(3));
    Huffman codeLengths;
    if (in.failed || !build(codeLengths, lengths, 19)) return false;
    memset(lengths, 0, sizeof lengths);
    for (int i = 0; i < lengthCount + distanceCount;) {
        int symbol = decode(in, codeLengths);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        int times;
        if (symbol == 16) {
            if (i == 0) return false;
            repeated = lengths[i - 1];
            times = 3 + static_cast<int>(in.take(2));
        } else {
            times = symbol == 17 ? 3 + static_cast<int>(in.take(3)) : 11 + static_cast<int>(in.take(7));
        }
        if (in.failed || i + times > lengthCount + distanceCount) return false;
        while (times--) lengths[i++] = repeated;
    }
    if (lengths[256] == 0) return false;  // no end-of-block code
    Huffman lengthCode, distanceCode;
    return build(lengthCode, lengths, lengthCount) && build(distanceCode, lengths + lengthCount, distanceCount) &&
           inflateCodes(in, lengthCode, distanceCode, limit, out);
}

bool inflateFixed(Bits& in, size_t limit, NarrowString& out) {
    uint8_t lengths[288];
    for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    uint8_t distances[30];
    memset(distances, 5, sizeof distances);
    Huffman lengthCode, distanceCode;
    build(lengthCode, lengths, 288);
    build(distanceCode, distances, 30);
    return inflateCodes(in, lengthCode, distanceCode, limit, out);
}

bool inflateStored(Bits& in, size_t limit, NarrowString& out) {
    // Stored data starts at the next byte.
    in.buffer = 0;
    in.count = 0;
    if (in.size - in.at < 4) return false;
    const size_t length = in.data[in.at] | in.data[in.at + 1] << 8;
    const size_t check = in.data[in.at + 2] | in.data[in.at + 3] << 8;
    in.at += 4;
    if (length != (~check & 0xffff) || in.size - in.at < length || length > limit - out.size()) return false;
    out.append(reinterpret_cast<const char*>(in.data + in.at), length);
    in.at += length;
    return true;
}

}  // namespace

bool inflateRaw(const uint8_t* data, size_t size, size_t limit, NarrowString& out) {
    out.clear();
    Bits in{data, size};
    for (bool last = false; !last;) {
        last = in.take(1) != 0;
        const uint32_t type = in.take(2);
        if (in.failed) return false;
        bool ok = type == 0 ? inflateStored(in, limit, out)
                : type == 1 ? inflateFixed(in, limit, out)
                : type == 2 ? inflateDynamic(in, limit, out)
                            : false;
        if (!ok) return false;
    }
    return true;
}

// --- The manifest ---------------------------------------------------------------

static bool sameNameIgnoringCase(const NarrowString& a, const char* b) {
    if (a.size() != strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

bool manifestValue(const NarrowString& manifest, const char* name, NarrowString& value) {
    bool found = false, inValue = false;
    size_t at = 0;
    while (at < manifest.size()) {
        size_t end = at;
        while (end < manifest.size() && manifest[end] != '\r' && manifest[end] != '\n') ++end;
        const NarrowString line = manifest.substr(at, end - at);
        at = end + (end + 1 < manifest.size() && manifest[end] == '\r' && manifest[end + 1] == '\n' ? 2 : 1);
        if (line.empty()) break;  // the main section ends
        if (line[0] == ' ') {
            if (inValue) value += line.substr(1);
            continue;
        }
        size_t colon = line.find(": ");
        inValue = !found && colon != NarrowString::npos && sameNameIgnoringCase(line.substr(0, colon), name);
        if (inValue) {
            value = line.substr(colon + 2);
            found = true;
        }
    }
    return found;
}

static int hexDigit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// One Class-Path URL as a path: relative ones as written, "file:" ones
// without the scheme; false for other schemes, which no jar is read from.
static bool urlPath(const NarrowString& url, NarrowString& path) {
    NarrowString text = url;
    size_t colon = text.find(':'), slash = text.find('/');
    if (colon != NarrowString::npos && (slash == NarrowString::npos || colon < slash)) {
        if (!sameNameIgnoringCase(text.substr(0, colon), "file")) return false;
        text = text.substr(colon + 1);
        if (text.compare(0, 2, "//") == 0) text = text.substr(text.find('/', 2) == NarrowString::npos ? text.size() : text.find('/', 2));
    }
    path.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        int high, low;
        if (text[i] == '%' && i + 2 < text.size() && (high = hexDigit(text[i + 1])) >= 0 && (low = hexDigit(text[i + 2])) >= 0) {
            path += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            path += text[i];
        }
    }
    return !path.empty();
}

static uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
static uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

bool jarClassPath(const uint8_t* data, size_t size, List<NarrowString>& entries) {
    entries.clear();
    if (!data || size < 22) return false;
    // The end record, behind a comment of at most 65535 bytes.
    const size_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
    size_t end = size - 22 + 1;
    while (end-- > lowest && le32(data + end) != 0x06054b50u) {
    }
    if (end == static_cast<size_t>(-1) || end < lowest || le32(data + end) != 0x06054b50u) return false;
    const uint32_t count = le16(data + end + 10), offset = le32(data + end + 16);
    // Archives of the 64-bit format are not read.
    if (count == 0xffff || offset == 0xffffffffu || offset > end) return false;
    size_t at = offset;
    for (uint32_t i = 0; i < count; ++i) {
        if (end - at < 46 || le32(data + at) != 0x02014b50u) return false;
        const uint32_t method = le16(data + at + 10), compressed = le32(data + at + 20);
        const uint32_t nameLength = le16(data + at + 28), extraLength = le16(data + at + 30);
        const uint32_t commentLength = le16(data + at + 32), local = le32(data + at + 42);
        if (end - at - 46 < nameLength) return false;
        const NarrowString name(reinterpret_cast<const char*>(data + at + 46), nameLength);
        at += 46 + nameLength + extraLength + commentLength;
        if (!sameNameIgnoringCase(name, "META-INF/MANIFEST.MF")) continue;
        if (local > size || size - local < 30 || le32(data + local) != 0x04034b50u) return false;
        const size_t from = local + 30 + le16(data + local + 26) + le16(data + local + 28);
        if (from > size || size - from < compressed) return false;
        NarrowString manifest;
        if (method == 0)
            manifest.assign(reinterpret_cast<const char*>(data + from), compressed);
        else if (method != 8 || !inflateRaw(data + from, compressed, 1u << 20, manifest))
            return false;
        NarrowString value;
        if (!manifestValue(manifest, "Class-Path", value)) return true;
        NarrowString word;
        for (size_t j = 0; j <= value.size(); ++j) {
            if (j < value.size() && value[j] != ' ') {
                word += value[j];
                continue;
            }
            NarrowString path;
            if (!word.empty() && urlPath(word, path)) entries.push_back(path);
            word.clear();
        }
        return true;
    }
    return true;
}
