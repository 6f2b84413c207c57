#include "instance/instance_socket.h"

#include <stdio.h>

namespace {

void putUint32(NarrowString& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

uint32_t getUint32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// FNV-1a, 64 bits: stable across builds and systems, which a socket name
// shared by every launch of one executable must be.
uint64_t hashBytes(uint64_t hash, const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash ^= static_cast<uint8_t>(bytes[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

NarrowString instanceSocketName(const NarrowString& executable, const WideString& productCode) {
    uint64_t hash = hashBytes(14695981039346656037ull, executable.data(), executable.size());
    // The terminator keeps "/a/b" + "c" apart from "/a/bc" + "".
    hash = hashBytes(hash, "", 1);
    NarrowString code = toUtf8(productCode);
    hash = hashBytes(hash, code.data(), code.size());
    static const char digits[] = "0123456789abcdef";
    NarrowString name = "si-";
    for (int shift = 60; shift >= 0; shift -= 4) name += digits[(hash >> shift) & 0xF];
    return name + ".sock";
}

NarrowString instanceLockName(const NarrowString& socketName) { return socketName + ".lock"; }

NarrowString instanceFolder(const NarrowString& root, uint32_t userId, const NarrowString& socketName) {
    NarrowString base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    char own[48];
    snprintf(own, sizeof own, "/tmp/veda-launcher-%u", userId);
    NarrowString folder = base + own;
    if (folder.size() + 1 + socketName.size() > kSocketPathLimit) return NarrowString();
    return folder;
}

static bool putText(NarrowString& payload, const WideString& text) {
    if (payload.size() + 4 + 2 * text.size() > kHandOverPayloadLimit) return false;
    putUint32(payload, static_cast<uint32_t>(text.size()));
    for (size_t i = 0; i < text.size(); ++i) {
        payload += static_cast<char>(text[i] & 0xFF);
        payload += static_cast<char>(text[i] >> 8);
    }
    return true;
}

bool encodeHandOverRequest(const List<WideString>& arguments, const WideString& workingDirectory,
                           NarrowString& request) {
    NarrowString payload;
    putUint32(payload, static_cast<uint32_t>(arguments.size()));
    for (const WideString& argument : arguments)
        if (!putText(payload, argument)) return false;
    if (!putText(payload, workingDirectory)) return false;
    request.clear();
    putUint32(request, kHandOverMagic);
    putUint32(request, static_cast<uint32_t>(payload.size()));
    request += payload;
    return true;
}

bool handOverPayloadBytes(const uint8_t* header, size_t& bytes) {
    if (getUint32(header) != kHandOverMagic) return false;
    bytes = getUint32(header + 4);
    return bytes >= 4 && bytes <= kHandOverPayloadLimit;
}

static bool getText(const uint8_t* payload, size_t bytes, size_t& at, WideString& text) {
    if (bytes - at < 4) return false;
    size_t units = getUint32(payload + at);
    at += 4;
    if ((bytes - at) / 2 < units) return false;
    std::u16string read(units, u'\0');
    for (size_t i = 0; i < units; ++i, at += 2) read[i] = static_cast<char16_t>(payload[at] | payload[at + 1] << 8);
    text = WideString(read);
    return true;
}

bool decodeHandOverPayload(const uint8_t* payload, size_t bytes, List<WideString>& arguments,
                           WideString& workingDirectory) {
    arguments.clear();
    workingDirectory.clear();
    if (bytes < 4) return false;
    uint32_t count = getUint32(payload);
    size_t at = 4;
    for (uint32_t n = 0; n < count; ++n) {
        WideString argument;
        if (!getText(payload, bytes, at, argument)) return false;
        arguments.push_back(argument);
    }
    if (at < bytes && !getText(payload, bytes, at, workingDirectory)) return false;
    return at == bytes;
}

void encodeAnswer(int32_t answer, uint8_t* bytes) {
    uint32_t value = static_cast<uint32_t>(answer);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

int32_t decodeAnswer(const uint8_t* bytes) { return static_cast<int32_t>(getUint32(bytes)); }
