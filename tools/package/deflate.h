// The compressed streams the packages need: deflate (for .zip entries, the
// .tar.gz and PNG pictures), its reverse for reading PNG icons, and the
// checksums of the three formats.
#ifndef TOOLS_PACKAGE_DEFLATE_H
#define TOOLS_PACKAGE_DEFLATE_H

#include <stddef.h>
#include <stdint.h>

#include "tools/brand/bytes.h"

uint32_t crc32Update(uint32_t crc, const uint8_t* data, size_t size);
inline uint32_t crc32Of(const Bytes& data) { return crc32Update(0, data.data(), data.size()); }
uint32_t adler32Of(const Bytes& data);

// A raw deflate stream written piece by piece: matches reach back over
// the pieces, each block is stored as it is when coding would not make it
// smaller (jars and pictures are already compressed).
class Deflater {
public:
    // Appends what the input compresses to; finish() ends the stream.
    void write(const uint8_t* data, size_t size, Bytes& out);
    void finish(Bytes& out);

private:
    void block(bool last, Bytes& out);
    Bytes history_;  // the last 32 KiB already written
    Bytes pending_;  // input not yet written as a block
    uint64_t bitBuffer_ = 0;
    int bitCount_ = 0;
};

Bytes deflateAll(const Bytes& data);

// Reads a raw deflate stream; false when it is damaged or its output would
// exceed limit bytes.
bool inflateAll(const uint8_t* data, size_t size, size_t limit, Bytes& out);

#endif
