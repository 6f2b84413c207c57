#include "vm/ensure_folders.h"

#include "support/platform.h"

namespace {

class PlatformFolders : public FolderSystem {
public:
    bool exists(const WideString& path) override { return platform::fileExists(path); }
    uint32_t createDirectory(const WideString& path) override { return platform::createDirectory(path); }
    bool removeDirectory(const WideString& path) override { return platform::removeDirectory(path); }
};

const char16_t kLongPathPrefix[] = u"\\\\?\\";

// "\\server\share...", but not the long-path prefix "\\?\".
bool isNetworkPath(const WideString& path) {
    return path.size() > 2 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'?';
}

// A relative path never counts as existing, so that a name such as
// "logs\out.log" is not looked up against the current directory.
bool pathExists(const WideString& path, FolderSystem& system) {
    if (path.empty()) return false;
    if (path[0] != platform::kPathSeparator && path.find(u':') == WideString::npos) return false;
    return system.exists(path);
}

// "\a\b": on the current drive's root.
bool isRootRelative(const WideString& path) {
    const char16_t separator = platform::kPathSeparator;
    return !path.empty() && path[0] == separator && (path.size() == 1 || path[1] != separator);
}

// The first component (drive, "\\server", or empty for a root-relative
// path) and the rest, split at every backslash.
List<WideString> components(const WideString& path) {
    WideString prefix;
    WideString text = path;
    if (path.startsWith(kLongPathPrefix)) {
        prefix = kLongPathPrefix;
        text = path.substr(prefix.size());
    }
    size_t end = text.find(platform::kPathSeparator, isNetworkPath(text) ? 2 : 0);
    List<WideString> result;
    WideString first = prefix + (end == WideString::npos ? text : text.left(end));
    // A root-relative name keeps its empty root, so that its first folder
    // is made on the root and not below the current directory.
    if (!first.empty() || isRootRelative(path)) result.push_back(first);
    if (end == WideString::npos) return result;
    size_t at = end + 1;
    for (;;) {
        size_t next = text.find(platform::kPathSeparator, at);
        if (next == WideString::npos) {
            result.push_back(text.substr(at));
            return result;
        }
        result.push_back(text.substr(at, next - at));
        at = next + 1;
    }
}

}  // namespace

FolderSystem& platformFolders() {
    static PlatformFolders folders;
    return folders;
}

uint32_t ensureFolders(const WideString& path, FolderSystem& system) {
    if (pathExists(path, system)) return 0;
    bool network = isNetworkPath(path);
    List<WideString> parts = components(path);
    if (parts.size() < 3) return 0;

    uint32_t lastError = 0;
    WideString current = parts[0];
    bool currentCreatedHere = false;
    for (size_t i = 1; i + 1 < parts.size(); ++i) {
        WideString folder = current + platform::kPathSeparator + parts[i];
        uint32_t error = system.createDirectory(folder);
        if (error != 0) lastError = error == platform::kErrorAlreadyExists ? 0 : error;
        if (error != 0 && error != platform::kErrorAlreadyExists && !network) {
            // Only a folder this call made is taken back: one that was there
            // before may hold the user's files or be in use.
            if (i > 1 && currentCreatedHere) system.removeDirectory(current);
            return error;
        }
        // On a network path the server and share cannot be created: their
        // failures are passed over.
        current = folder;
        currentCreatedHere = error == 0;
    }
    return lastError;
}
