#include "vm/options_file.h"

#include "launcher/launcher_settings.h"
#include "launcher/settings.h"
#include "support/platform.h"
#include "vm/vm_options.h"

static bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

List<WideString> optionsFileLines(const NarrowString& bytes) {
    WideString text = decodeSettingsText(bytes);
    List<WideString> options;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = at;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r') ++end;
        size_t first = at, last = end;
        while (first < last && isBlank(text[first])) ++first;
        while (last > first && isBlank(text[last - 1])) --last;
        at = end < text.size() && text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? end + 2
                                                                                                        : end + 1;
        if (first == last || text[first] == u'#') continue;
        WideString line = text.substr(first, last - first);
        // "--add-opens x" on one line is the option and its value, as the
        // java command's documentation writes it.
        size_t blank = 0;
        while (blank < line.size() && !isBlank(line[blank])) ++blank;
        WideString name = line.left(blank);
        if (blank < line.size() && optionTakesNextWord(name)) {
            size_t value = blank;
            while (value < line.size() && isBlank(line[value])) ++value;
            options.push_back(name);
            options.push_back(line.substr(value));
            continue;
        }
        options.push_back(line);
    }
    return options;
}

// The executable's name without the extension the settings file replaces.
static WideString baseName(const WideString& modulePath, WideString* folder) {
    size_t slash = modulePath.findLast(platform::kPathSeparator);
    WideString name = slash == WideString::npos ? modulePath : modulePath.substr(slash + 1);
    if (folder) *folder = slash == WideString::npos ? WideString() : modulePath.left(slash + 1);
    size_t dot = platform::kSettingsNameAppended ? WideString::npos : name.findLast(u'.');
    return dot == WideString::npos ? name : name.left(dot);
}

WideString besideOptionsPath(const WideString& modulePath) {
    if (modulePath.empty()) return WideString();
    WideString folder;
    WideString name = baseName(modulePath, &folder);
    return folder + name + u".vmoptions";
}

WideString userOptionsPath(const WideString& perUserFolder, const WideString& modulePath,
                           const WideString& productName, const WideString& productCode) {
    if (perUserFolder.empty() || modulePath.empty()) return WideString();
    WideString name = baseName(modulePath, nullptr);
    List<WideString> parts = programFolderParts(productName, productCode, name);
    if (parts.empty()) return WideString();
    WideString path = perUserFolder;
    for (const WideString& part : parts) path += platform::kPathSeparator + part;
    return path + platform::kPathSeparator + name + u".vmoptions";
}
