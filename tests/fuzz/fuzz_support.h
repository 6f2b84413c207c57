// Helpers shared by the fuzz targets.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "support/wide_string.h"

// A broken property is a finding like a crash: abort so libFuzzer keeps the input.
#define FUZZ_REQUIRE(condition)                                                              \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            fprintf(stderr, "property violated at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                         \
        }                                                                                    \
    } while (0)

inline bool fuzzContains(const WideString& text, char16_t unit) { return text.find(unit) != WideString::npos; }

// Input bytes as text: after an FF FE mark, UTF-16LE code units (any of them,
// unpaired surrogates included); otherwise UTF-8 as the launcher decodes it.
inline WideString fuzzText(const uint8_t* data, size_t size) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        WideString text;
        for (size_t i = 2; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        return text;
    }
    return fromUtf8(reinterpret_cast<const char*>(data), size);
}

#endif
