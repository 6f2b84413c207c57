// Executable bytes -> the branding tool's image reader, resource reader and
// resource-section writer, and the readers of the resources it changes
// (icon files, version blocks). Whatever reads back must be written into
// an image that reads back to the same resources, with the appended data at
// its end and a fitting checksum.
#include <string>

#include "fuzz_support.h"
#include "tools/brand/icon_file.h"
#include "tools/brand/pe_file.h"
#include "tools/brand/resource_tree.h"
#include "tools/brand/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes input(data, data + size);
    std::string error;

    // The same bytes as an icon file and as a version block.
    std::vector<IconImage> images;
    if (parseIconFile(input, images, error)) {
        FUZZ_REQUIRE(!images.empty());
        for (const IconImage& image : images) FUZZ_REQUIRE(image.data.size() >= 8 && image.data.size() <= size);
    }
    VersionInfo info;
    if (parseVersionInfo(input, info)) {
        Bytes block;
        if (writeVersionInfo(info, block)) {
            VersionInfo back;
            FUZZ_REQUIRE(parseVersionInfo(block, back));
            FUZZ_REQUIRE(back.strings.size() <= info.strings.size());
            for (int i = 0; i < 4; ++i) FUZZ_REQUIRE(back.fileVersion.parts[i] == info.fileVersion.parts[i]);
        }
    }

    PeFile image;
    error.clear();
    if (!image.parse(input, error)) {
        FUZZ_REQUIRE(!error.empty());
        return 0;
    }
    ResourceTree tree;
    if (!tree.read(image, error)) {
        FUZZ_REQUIRE(!error.empty());
        return 0;
    }
    uint32_t rva = image.newResourceRva();
    Bytes resources = tree.write(rva);
    Bytes output;
    bool dropped = false;
    if (!image.rebuild(resources, output, dropped, error)) return 0;

    PeFile again;
    if (!again.parse(output, error)) fprintf(stderr, "the written image does not read back: %s\n", error.c_str());
    FUZZ_REQUIRE(error.empty());
    FUZZ_REQUIRE(again.directory(kDirectoryResources).rva == rva);
    FUZZ_REQUIRE(again.directory(kDirectoryResources).size == resources.size());
    FUZZ_REQUIRE(again.signature().size == 0 && dropped == (image.signature().size != 0));
    ResourceTree back;
    if (!back.read(again, error)) fprintf(stderr, "the written resources do not read back: %s\n", error.c_str());
    FUZZ_REQUIRE(error.empty());
    FUZZ_REQUIRE(back.write(rva) == resources);

    // Appended data, less a signature, ends the output.
    size_t appended = size - image.endOfSections() - image.signature().size;
    FUZZ_REQUIRE(output.size() == again.endOfSections() + appended);
    size_t checksum = read32(output.data() + 0x3C) + 24 + 64;
    FUZZ_REQUIRE(read32(output.data() + checksum) == imageChecksum(output.data(), output.size(), checksum));
    return 0;
}
