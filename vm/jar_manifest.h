// The jars a jar's manifest adds to the class path ("Class-Path:"), read
// from the jar's bytes: the start-up cache's key must see every jar the
// program's classes can come from.
#ifndef VM_JAR_MANIFEST_H
#define VM_JAR_MANIFEST_H

#include <stddef.h>
#include <stdint.h>

#include "support/wide_string.h"

// Inflates raw DEFLATE data (RFC 1951) of at most limit bytes; false when
// the data is damaged or larger.
bool inflateRaw(const uint8_t* data, size_t size, size_t limit, NarrowString& out);

// The main section's value of a manifest header (continuation lines
// joined); false when the manifest has none.
bool manifestValue(const NarrowString& manifest, const char* name, NarrowString& value);

// The Class-Path entries of a jar, as the runtime reads them: relative
// URLs (and "file:" ones) split at blanks, percent-escapes decoded. True
// with no entries when the jar has no manifest or the manifest no such
// line; false when the jar cannot be read as a zip archive.
bool jarClassPath(const uint8_t* data, size_t size, List<NarrowString>& entries);

#endif
