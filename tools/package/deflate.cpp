#include "tools/package/deflate.h"

#include <string.h>

namespace {

const size_t kWindow = 32768;
const size_t kBlock = 65535;  // the most a stored block holds
const int kMaxChain = 48;

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct BitWriter {
    uint64_t buffer;
    int count;
    Bytes& out;
    void put(uint32_t value, int bits) {
        buffer |= static_cast<uint64_t>(value) << count;
        count += bits;
        while (count >= 8) {
            out.push_back(static_cast<uint8_t>(buffer));
            buffer >>= 8;
            count -= 8;
        }
    }
    // Huffman codes go most significant bit first.
    void code(uint32_t code, int bits) {
        uint32_t reversed = 0;
        for (int i = 0; i < bits; ++i) reversed |= ((code >> i) & 1) << (bits - 1 - i);
        put(reversed, bits);
    }
    void literal(uint32_t symbol) {
        if (symbol < 144) code(0x30 + symbol, 8);
        else if (symbol < 256) code(0x190 + symbol - 144, 9);
        else if (symbol < 280) code(symbol - 256, 7);
        else code(0xC0 + symbol - 280, 8);
    }
    void match(uint32_t length, uint32_t distance) {
        int l = 28;
        while (kLengthBase[l] > length) --l;
        literal(257 + l);
        put(length - kLengthBase[l], kLengthExtra[l]);
        int d = 29;
        while (kDistanceBase[d] > distance) --d;
        code(d, 5);
        put(distance - kDistanceBase[d], kDistanceExtra[d]);
    }
};

uint32_t hash3(const uint8_t* p) { return ((p[0] << 10) ^ (p[1] << 5) ^ p[2]) & 0x7FFF; }

// The block data[start, end) with the fixed codes, matches reaching back
// into data[0, start).
void codeBlock(const Bytes& data, size_t start, BitWriter& bits) {
    std::vector<int32_t> head(0x8000, -1);
    std::vector<int32_t> previous(data.size(), -1);
    auto insert = [&](size_t at) {
        if (at + 3 > data.size()) return;
        uint32_t h = hash3(&data[at]);
        previous[at] = head[h];
        head[h] = static_cast<int32_t>(at);
    };
    for (size_t at = 0; at < start; ++at) insert(at);
    size_t at = start;
    while (at < data.size()) {
        size_t bestLength = 0, bestDistance = 0;
        if (at + 3 <= data.size()) {
            size_t most = data.size() - at < 258 ? data.size() - at : 258;
            int32_t candidate = head[hash3(&data[at])];
            for (int chain = 0; candidate >= 0 && chain < kMaxChain; ++chain, candidate = previous[candidate]) {
                size_t distance = at - static_cast<size_t>(candidate);
                if (distance > kWindow) break;
                size_t length = 0;
                while (length < most && data[candidate + length] == data[at + length]) ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = distance;
                    if (length == most) break;
                }
            }
        }
        if (bestLength >= 3) {
            bits.match(static_cast<uint32_t>(bestLength), static_cast<uint32_t>(bestDistance));
            for (size_t i = 0; i < bestLength; ++i) insert(at + i);
            at += bestLength;
        } else {
            bits.literal(data[at]);
            insert(at);
            ++at;
        }
    }
    bits.literal(256);
}

}  // namespace

uint32_t crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32Of(const Bytes& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void Deflater::write(const uint8_t* data, size_t size, Bytes& out) {
    while (size) {
        size_t take = kBlock - pending_.size() < size ? kBlock - pending_.size() : size;
        pending_.insert(pending_.end(), data, data + take);
        data += take;
        size -= take;
        if (pending_.size() == kBlock) block(false, out);
    }
}

void Deflater::finish(Bytes& out) {
    block(true, out);
    if (bitCount_) out.push_back(static_cast<uint8_t>(bitBuffer_));
    bitBuffer_ = 0;
    bitCount_ = 0;
}

void Deflater::block(bool last, Bytes& out) {
    Bytes window = history_;
    size_t start = window.size();
    window.insert(window.end(), pending_.begin(), pending_.end());

    // Coded into a copy of the bit state; kept when smaller than stored.
    Bytes coded;
    BitWriter trial{bitBuffer_, bitCount_, coded};
    trial.put(last ? 1 : 0, 1);
    trial.put(1, 2);
    codeBlock(window, start, trial);
    if (coded.size() < pending_.size() + 5) {
        out.insert(out.end(), coded.begin(), coded.end());
        bitBuffer_ = trial.buffer;
        bitCount_ = trial.count;
    } else {
        BitWriter bits{bitBuffer_, bitCount_, out};
        bits.put(last ? 1 : 0, 1);
        bits.put(0, 2);
        if (bits.count) bits.put(0, 8 - bits.count);
        append16(out, static_cast<uint32_t>(pending_.size()));
        append16(out, static_cast<uint32_t>(~pending_.size() & 0xFFFF));
        out.insert(out.end(), pending_.begin(), pending_.end());
        bitBuffer_ = 0;
        bitCount_ = 0;
    }
    size_t keep = window.size() < kWindow ? window.size() : kWindow;
    history_.assign(window.end() - static_cast<std::ptrdiff_t>(keep), window.end());
    pending_.clear();
}

Bytes deflateAll(const Bytes& data) {
    Deflater deflater;
    Bytes out;
    deflater.write(data.data(), data.size(), out);
    deflater.finish(out);
    return out;
}

namespace {

struct BitReader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t buffer = 0;
    int count = 0;
    bool damaged = false;
    uint32_t bits(int need) {
        uint32_t value = buffer;
        while (count < need) {
            if (at == size) {
                damaged = true;
                return 0;
            }
            value |= static_cast<uint32_t>(data[at++]) << count;
            count += 8;
        }
        buffer = need < 32 ? value >> need : 0;
        count -= need;
        return need ? value & ((1u << need) - 1) : 0;
    }
};

struct Huffman {
    uint16_t count[16];
    uint16_t symbol[288];
};

// Canonical codes from their lengths; false when over-subscribed.
bool buildHuffman(Huffman& h, const uint8_t* lengths, int n) {
    memset(h.count, 0, sizeof h.count);
    for (int s = 0; s < n; ++s) h.count[lengths[s]]++;
    int left = 1;
    for (int length = 1; length < 16; ++length) {
        left <<= 1;
        left -= h.count[length];
        if (left < 0) return false;
    }
    uint16_t offsets[16];
    offsets[1] = 0;
    for (int length = 1; length < 15; ++length) offsets[length + 1] = offsets[length] + h.count[length];
    for (int s = 0; s < n; ++s)
        if (lengths[s]) h.symbol[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
    return true;
}

int decodeSymbol(BitReader& in, const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int length = 1; length < 16; ++length) {
        code |= static_cast<int>(in.bits(1));
        if (in.damaged) return -1;
        int count = h.count[length];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return -1;
}

bool inflateCodes(BitReader& in, const Huffman& lengths, const Huffman& distances, size_t limit, Bytes& out) {
    for (;;) {
        int symbol = decodeSymbol(in, lengths);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (out.size() >= limit) return false;
            out.push_back(static_cast<uint8_t>(symbol));
        } else if (symbol == 256) {
            return true;
        } else {
            symbol -= 257;
            if (symbol >= 29) return false;
            size_t length = kLengthBase[symbol] + in.bits(kLengthExtra[symbol]);
            int d = decodeSymbol(in, distances);
            if (d < 0 || d >= 30) return false;
            size_t distance = kDistanceBase[d] + in.bits(kDistanceExtra[d]);
            if (in.damaged || distance > out.size() || out.size() + length > limit) return false;
            for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
        }
    }
}

}  // namespace

bool inflateAll(const uint8_t* data, size_t size, size_t limit, Bytes& out) {
    BitReader in{data, size};
    bool last = false;
    while (!last) {
        last = in.bits(1);
        uint32_t type = in.bits(2);
        if (in.damaged) return false;
        if (type == 0) {
            in.buffer = 0;
            in.count = 0;
            if (!insideBuffer(size, in.at, 4)) return false;
            uint32_t length = read16(data + in.at), check = read16(data + in.at + 2);
            in.at += 4;
            if ((length ^ 0xFFFF) != check || !insideBuffer(size, in.at, length) || out.size() + length > limit)
                return false;
            out.insert(out.end(), data + in.at, data + in.at + length);
            in.at += length;
        } else if (type == 1) {
            uint8_t lengths[288 + 30];
            for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
            for (int s = 0; s < 30; ++s) lengths[288 + s] = 5;
            Huffman codes, distances;
            buildHuffman(codes, lengths, 288);
            buildHuffman(distances, lengths + 288, 30);
            if (!inflateCodes(in, codes, distances, limit, out)) return false;
        } else if (type == 2) {
            static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
            uint32_t literals = in.bits(5) + 257, distanceCount = in.bits(5) + 1, codeCount = in.bits(4) + 4;
            if (literals > 286 || distanceCount > 30) return false;
            uint8_t lengths[320] = {0};
            for (uint32_t i = 0; i < codeCount; ++i) lengths[order[i]] = static_cast<uint8_t>(in.bits(3));
            Huffman lengthCodes, codes, distances;
            if (in.damaged || !buildHuffman(lengthCodes, lengths, 19)) return false;
            uint32_t at = 0;
            while (at < literals + distanceCount) {
                int symbol = decodeSymbol(in, lengthCodes);
                if (symbol < 0) return false;
                if (symbol < 16) {
                    lengths[at++] = static_cast<uint8_t>(symbol);
                    continue;
                }
                uint8_t repeated = 0;
                uint32_t times;
                if (symbol == 16) {
                    if (at == 0) return false;
                    repeated = lengths[at - 1];
                    times = 3 + in.bits(2);
                } else {
                    times = symbol == 17 ? 3 + in.bits(3) : 11 + in.bits(7);
                }
                if (in.damaged || at + times > literals + distanceCount) return false;
                while (times--) lengths[at++] = repeated;
            }
            if (!buildHuffman(codes, lengths, static_cast<int>(literals)) ||
                !buildHuffman(distances, lengths + literals, static_cast<int>(distanceCount)))
                return false;
            if (!inflateCodes(in, codes, distances, limit, out)) return false;
        } else {
            return false;
        }
    }
    return true;
}
