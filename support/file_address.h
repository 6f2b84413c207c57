// Desktops that open a program through a desktop entry with %U hand over
// local files as file:// addresses; the program receives them as paths.
#ifndef SUPPORT_FILE_ADDRESS_H
#define SUPPORT_FILE_ADDRESS_H

#include "support/wide_string.h"

// The path of a local file:// address ("file:///tmp/a%20b.txt" or with the
// host "localhost"), its %XX escapes decoded to bytes. False, leaving path
// alone, for anything else: another scheme or host, a bad escape, a NUL.
bool fileAddressPath(const NarrowString& address, NarrowString& path);

#endif
