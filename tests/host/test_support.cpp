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
