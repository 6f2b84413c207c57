#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

WideString W(const char* utf8) { return fromUtf8(utf8, strlen(utf8)); }

std::string U(const WideString& text) { return toUtf8(text).c_str(); }

std::vector<std::string> U(const List<WideString>& texts) {
    std::vector<std::string> result;
    for (const WideString& text : texts) result.push_back(U(text));
    return result;
}

ScratchFolder::ScratchFolder() {
    char pattern[] = "/tmp/launcher-test-XXXXXX";
    host_ = mkdtemp(pattern);
    path_ = platform::host::windowsPath(host_) + u"\\";
}

ScratchFolder::~ScratchFolder() {
    std::string command = "rm -rf '" + host_ + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", host_.c_str());
}

WideString ScratchFolder::write(const std::string& relative, const std::string& content) {
    std::string full = host_ + "/" + relative;
    for (size_t i = host_.size() + 1; i < full.size(); ++i)
        if (full[i] == '/') mkdir(full.substr(0, i).c_str(), 0777);
    FILE* f = fopen(full.c_str(), "wb");
    if (f) {
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }
    std::string windows = relative;
    for (char& c : windows)
        if (c == '/') c = '\\';
    return path_ + W(windows.c_str());
}

void LauncherTest::SetUp() {
    PlatformTest::SetUp();
    platform::host::setModulePath(executable());
}

WorkingDirectory::WorkingDirectory(const std::string& hostFolder) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer)) previous_ = buffer;
    if (chdir(hostFolder.c_str()) != 0) ADD_FAILURE() << "cannot enter " << hostFolder;
}

WorkingDirectory::~WorkingDirectory() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) fprintf(stderr, "cannot return to %s\n", previous_.c_str());
}

std::string peImage(uint16_t machine, uint16_t characteristics, size_t size, uint32_t offset, const char* signature) {
    std::string bytes(size, '\0');
    auto put = [&](size_t at, uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            if (at + i < size) bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    put(0, 'M' | ('Z' << 8), 2);
    put(0x3C, offset, 4);
    put(offset, static_cast<uint8_t>(signature[0]) | (static_cast<uint8_t>(signature[1]) << 8), 4);
    put(static_cast<size_t>(offset) + 4, machine, 2);
    put(static_cast<size_t>(offset) + 4 + 18, characteristics, 2);
    return bytes;
}
