// brand-launcher: gives a copy of the launcher an application's icon,
// version information and built-in settings. Portable: it reads and writes
// the executable itself, so it runs on any build machine.
//
//   brand-launcher <launcher.exe> [<output.exe>] [--icon app.ico]
//       [--settings builtin.ini] [--file-version 1.2.3.4] ...
//
// Without an output the launcher itself is changed. The output is written
// to a temporary file beside it and renamed at the end, so a failure never
// leaves a partial executable.
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/wide_string.h"
#include "tools/brand/brand.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: brand-launcher <launcher.exe> [<output.exe>] [options]\n"
    "  --icon <file.ico>              the application's icon (every image of the file)\n"
    "  --settings <file.ini>          built-in settings; an empty file removes them\n"
    "  --file-version <1.2.3.4>       file version, up to four numbers of 0 to 65535\n"
    "  --product-version <1.2.3.4>    product version\n"
    "  --file-version-text <text>     the file version as shown (default: the numbers)\n"
    "  --product-version-text <text>  the product version as shown (default: the numbers)\n"
    "  --product-name <text>\n"
    "  --company <text>\n"
    "  --description <text>           the file description\n"
    "  --copyright <text>\n"
    "  --original-filename <text>     e.g. MyApp.exe\n"
    "Without <output.exe> the launcher itself is changed.\n";

struct Argument {
    std::string text;  // UTF-8
    fs::path path;
};

int fail(const std::string& text) {
    fprintf(stderr, "brand-launcher: %s\n", text.c_str());
    return 1;
}

std::string shown(const fs::path& path) {
    return path.u8string();  // UTF-8 text in C++17
}

bool readFile(const fs::path& path, Bytes& bytes) {
    // A folder opens as a stream on some systems and tells a nonsense size.
    std::error_code code;
    if (!fs::is_regular_file(path, code)) return false;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    std::streamoff size = in.tellg();
    if (size < 0) return false;
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    return in.gcount() == size;
}

std::u16string utf16(const std::string& utf8) { return fromUtf8(utf8.data(), utf8.size()).str(); }

// Writes a temporary file in the output's folder and renames it over the
// output; the temporary file is removed on every failure.
bool writeOutput(const fs::path& output, const fs::path& permissionsFrom, const Bytes& bytes, std::string& error) {
    std::random_device random;
    fs::path temporary = output;
    temporary += ".brand-" + std::to_string(random()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            error = "cannot write " + shown(temporary);
            return false;
        }
    }
    std::error_code code;
    fs::file_status status = fs::status(permissionsFrom, code);
    if (!code) fs::permissions(temporary, status.permissions(), code);
    fs::rename(temporary, output, code);
    if (code) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        error = "cannot replace " + shown(output) + ": " + code.message();
        return false;
    }
    return true;
}

int run(const std::vector<Argument>& arguments) {
    std::vector<const Argument*> positional;
    BrandRequest request;
    std::string error;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i].text;
        if (option.size() < 2 || option.compare(0, 2, "--") != 0) {
            positional.push_back(&arguments[i]);
            continue;
        }
        if (option == "--help") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 == arguments.size()) {
            fprintf(stderr, "brand-launcher: %s needs a value\n%s", option.c_str(), kUsage);
            return 2;
        }
        const Argument& value = arguments[++i];
        std::optional<std::u16string>* text = option == "--file-version-text"      ? &request.fileVersionText
                                              : option == "--product-version-text" ? &request.productVersionText
                                              : option == "--product-name"         ? &request.productName
                                              : option == "--company"              ? &request.companyName
                                              : option == "--description"          ? &request.fileDescription
                                              : option == "--copyright"            ? &request.copyright
                                              : option == "--original-filename"    ? &request.originalFilename
                                                                                   : nullptr;
        if (text) {
            *text = utf16(value.text);
        } else if (option == "--icon" || option == "--settings") {
            Bytes bytes;
            if (!readFile(value.path, bytes)) return fail("cannot read " + shown(value.path));
            (option == "--icon" ? request.icon : request.settings) = bytes;
        } else if (option == "--file-version" || option == "--product-version") {
            VersionNumber number;
            if (!parseVersionNumber(value.text, number, error)) return fail(error);
            (option == "--file-version" ? request.fileVersion : request.productVersion) = number;
        } else {
            fprintf(stderr, "brand-launcher: unknown option %s\n%s", option.c_str(), kUsage);
            return 2;
        }
    }
    if (positional.empty() || positional.size() > 2 ||
        !(request.icon || request.settings || request.changesVersion())) {
        fputs(kUsage, stderr);
        return 2;
    }
    const fs::path& input = positional[0]->path;
    const fs::path& output = positional.size() == 2 ? positional[1]->path : input;

    Bytes launcher, branded;
    if (!readFile(input, launcher)) return fail("cannot read " + shown(input));
    BrandReport report;
    if (!brandLauncher(launcher, request, branded, report, error)) return fail(shown(input) + ": " + error);
    if (!writeOutput(output, input, branded, error)) return fail(error);

    printf("%s:\n", shown(output).c_str());
    for (const std::string& line : report.done) printf("  %s\n", line.c_str());
    for (const std::string& line : report.warnings) fprintf(stderr, "brand-launcher: warning: %s\n", line.c_str());
    for (const std::string& line : report.notes) fprintf(stderr, "brand-launcher: note: %s\n", line.c_str());
    return 0;
}

}  // namespace

#ifdef _WIN32
// The wide entry point keeps paths and texts beyond the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<Argument> arguments;
    for (int i = 1; i < argc; ++i) {
        WideString text(reinterpret_cast<const char16_t*>(argv[i]));
        NarrowString utf8 = toUtf8(text);
        arguments.push_back({std::string(utf8.begin(), utf8.end()), fs::path(std::wstring(argv[i]))});
    }
    return run(arguments);
}
#else
int main(int argc, char** argv) {
    std::vector<Argument> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], fs::path(argv[i])});
    return run(arguments);
}
#endif
