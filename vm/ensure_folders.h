// Folder preparation for the output files: the missing folders of a file
// path are created before the file is opened.
#ifndef VM_ENSURE_FOLDERS_H
#define VM_ENSURE_FOLDERS_H

#include <stdint.h>

#include "support/wide_string.h"

// The three system calls the walk makes; the platform's by default, a
// recording stand-in in the tests.
class FolderSystem {
public:
    virtual bool exists(const WideString& path) = 0;
    // 0, or the system error code (platform::kErrorAlreadyExists for a folder
    // that is there already).
    virtual uint32_t createDirectory(const WideString& path) = 0;
    virtual bool removeDirectory(const WideString& path) = 0;

protected:
    ~FolderSystem() = default;
};

FolderSystem& platformFolders();

// Creates the folders of path that are missing: every component between the
// first (drive, root or server) and the last (the file). Gives the last error
// met, 0 when nothing failed or the last failure was an existing folder.
uint32_t ensureFolders(const WideString& path, FolderSystem& system = platformFolders());

#endif
