// Bytes of the single-instance block's argument area (any process of the
// session may write them) -> readArgumentArea, then the properties the
// hand-over relies on.
#include <string.h>

#include "fuzz_support.h"
#include "instance/instance_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The area as the mapped block holds it: exactly its size, the input
    // first and the rest as the block's previous contents (here 0x5A).
    uint8_t area[kArgumentAreaSize];
    memset(area, 0x5A, sizeof area);
    memcpy(area, data, size < sizeof area ? size : sizeof area);

    List<WideString> read = readArgumentArea(area, sizeof area);
    size_t units = 0;
    for (size_t i = 0; i < read.size(); ++i) {
        // Strings end at a zero, so none holds one; only the first may be empty.
        FUZZ_REQUIRE(!fuzzContains(read[i], u'\0'));
        FUZZ_REQUIRE(i == 0 || !read[i].empty());
        units += read[i].size() + 1;
    }
    FUZZ_REQUIRE(units <= kArgumentAreaSize / 2);

    // A list read back is written and read again unchanged, when it fits.
    if (!read.empty() && argumentsFit(read)) {
        uint8_t again[kArgumentAreaSize];
        memset(again, 0xA5, sizeof again);
        FUZZ_REQUIRE(writeArgumentArea(again, read));
        FUZZ_REQUIRE(readArgumentArea(again, sizeof again) == read);
        for (size_t i = kArgumentWriteLimit; i < sizeof again; ++i) FUZZ_REQUIRE(again[i] == 0xA5);
    }
    return 0;
}
