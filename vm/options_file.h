// The options files: virtual-machine options the user and the program can
// change without touching the shipped settings, one option per line.
#ifndef VM_OPTIONS_FILE_H
#define VM_OPTIONS_FILE_H

#include "support/wide_string.h"

// The options of a file's bytes (UTF-8 with or without a mark, UTF-16 with
// one; either line end): each line one option, whole (paths with blanks need
// no quotes), trimmed; empty lines and lines starting with '#' left out. A
// module option with its value on the same line ("--add-opens x") gives two
// words, as two lines would.
List<WideString> optionsFileLines(const NarrowString& bytes);

// The file beside the executable: its name with ".vmoptions" in place of the
// settings file's extension.
WideString besideOptionsPath(const WideString& modulePath);

// The user's own file: "<name>.vmoptions" in the program's own folder below
// the per-user settings folder (the folders "Product Name" and "Product Code"
// give, else one named after the executable). Empty when there is none.
WideString userOptionsPath(const WideString& perUserFolder, const WideString& modulePath,
                           const WideString& productName, const WideString& productCode);

#endif
