#include "instance/instance_block.h"

#include <string.h>

WideString instanceName(const WideString& modulePath) {
    WideString name = modulePath;
    name.replaceAll(u'\\', u'_');
    return name;
}

WideString instanceEventName(const WideString& name) { return name + u"_upr_evt"; }

WideString instanceMutexName(const WideString& name) { return name + u"_upr_mtx"; }

bool instanceNamesFit(const WideString& name) {
    const size_t kMaxObjectName = 259;  // MAX_PATH with its terminator
    const size_t kMaxAtomName = 255;
    return !name.empty() && name.size() <= kMaxAtomName &&
           instanceEventName(name).size() <= kMaxObjectName && instanceMutexName(name).size() <= kMaxObjectName;
}

size_t argumentAreaBytes(const List<WideString>& arguments) {
    size_t units = 1;
    for (const WideString& argument : arguments) units += argument.size() + 1;
    return units * 2;
}

bool argumentsFit(const List<WideString>& arguments) { return argumentAreaBytes(arguments) <= kArgumentWriteLimit; }

bool writeArgumentArea(uint8_t* area, const List<WideString>& arguments) {
    if (!argumentsFit(arguments)) return false;
    memset(area, 0, kArgumentWriteLimit);
    size_t at = 0;
    for (const WideString& argument : arguments) {
        for (size_t i = 0; i < argument.size(); ++i) {
            area[at++] = static_cast<uint8_t>(argument[i] & 0xFF);
            area[at++] = static_cast<uint8_t>(argument[i] >> 8);
        }
        at += 2;  // the terminator, already cleared
    }
    return true;
}

List<WideString> readArgumentArea(const uint8_t* area, size_t size) {
    List<WideString> arguments;
    size_t units = size / 2;
    auto unitAt = [area](size_t index) {
        return static_cast<char16_t>(area[2 * index] | (area[2 * index + 1] << 8));
    };
    WideString current;
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = unitAt(i);
        if (unit != 0) {
            current += unit;
            continue;
        }
        arguments.push_back(current);
        current.clear();
        if (i + 1 < units && unitAt(i + 1) == 0) break;
    }
    return arguments;
}

void writeWorkingDirectory(uint8_t* area, const WideString& folder) {
    uint8_t* room = area + kArgumentWriteLimit;
    const size_t units = (kArgumentAreaSize - kArgumentWriteLimit) / 2;
    memset(room, 0, units * 2);
    if (folder.size() >= units) return;
    for (size_t i = 0; i < folder.size(); ++i) {
        room[2 * i] = static_cast<uint8_t>(folder[i] & 0xFF);
        room[2 * i + 1] = static_cast<uint8_t>(folder[i] >> 8);
    }
}

WideString readWorkingDirectory(const uint8_t* area) {
    const uint8_t* room = area + kArgumentWriteLimit;
    const size_t units = (kArgumentAreaSize - kArgumentWriteLimit) / 2;
    WideString folder;
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = static_cast<char16_t>(room[2 * i] | (room[2 * i + 1] << 8));
        if (unit == 0) return folder;
        folder += unit;
    }
    // No terminator: no folder of this layout.
    return WideString();
}
