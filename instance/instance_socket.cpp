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

bool encodeHandOverRequest(const List<WideString>& arguments, NarrowString& request) {
    NarrowString payload;
    putUint32(payload, static_cast<uint32_t>(arguments.size()));
    for (const WideString& argument : arguments) {
        if (payload.size() + 4 + 2 * argument.size() > kHandOverPayloadLimit) return false;
        putUint32(payload, static_cast<uint32_t>(argument.size()));
        for (size_t i = 0; i < argument.size(); ++i) {
            payload += static_cast<char>(argument[i] & 0xFF);
            payload += static_cast<char>(argument[i] >> 8);
        }
    }
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

bool decodeHandOverPayload(const uint8_t* payload, size_t bytes, List<WideString>& arguments) {
    arguments.clear();
    if (bytes < 4) return false;
    uint32_t count = getUint32(payload);
    size_t at = 4;
    for (uint32_t n = 0; n < count; ++n) {
        if (bytes - at < 4) return false;
        size_t units = getUint32(payload + at);
        at += 4;
        if ((bytes - at) / 2 < units) return false;
        std::u16string text(units, u'\0');
        for (size_t i = 0; i < units; ++i, at += 2)
            text[i] = static_cast<char16_t>(payload[at] | payload[at + 1] << 8);
        arguments.push_back(WideString(text));
    }
    return at == bytes;
}

void encodeAnswer(int32_t answer, uint8_t* bytes) {
    uint32_t value = static_cast<uint32_t>(answer);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

int32_t decodeAnswer(const uint8_t* bytes) { return static_cast<int32_t>(getUint32(bytes)); }
