// A Windows executable read from its bytes: headers, section table and data
// directories, and the writer that gives it a new resource section while
// keeping the code, every other section and the data appended after the last
// section.
#ifndef TOOLS_BRAND_PE_FILE_H
#define TOOLS_BRAND_PE_FILE_H

#include <string>
#include <vector>

#include "tools/brand/bytes.h"

enum : uint32_t {
    kDirectoryResources = 2,
    kDirectorySecurity = 4,
    kDirectoryRelocations = 5,
    kDirectoryDebug = 6,
};

struct PeSection {
    std::string name;
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
    uint32_t characteristics = 0;
    // The bytes the section occupies in memory: its virtual size, or its raw
    // size when that is not given.
    uint32_t extent() const { return virtualSize ? virtualSize : rawSize; }
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

class PeFile {
public:
    // Reads and checks the headers and the section table of a 32-bit (i386)
    // or 64-bit (AMD64) executable. On failure error says what is wrong.
    bool parse(const Bytes& file, std::string& error);

    const Bytes& bytes() const { return file_; }
    uint16_t machine() const { return machine_; }
    bool is64() const { return is64_; }
    const std::vector<PeSection>& sections() const { return sections_; }
    DataDirectory directory(uint32_t index) const {
        return index < directories_.size() ? directories_[index] : DataDirectory();
    }
    // File offset of length bytes at rva, when the file holds them all.
    bool offsetOf(uint32_t rva, uint32_t length, size_t& offset) const;
    // The section that holds rva, or -1.
    int sectionAt(uint32_t rva) const;
    // The data appended after the last section (without a signature at its
    // end), and the signature's place in the file (size 0 when unsigned).
    size_t endOfSections() const { return endOfSections_; }
    DataDirectory signature() const { return directory(kDirectorySecurity); }

    // Where new resources will be placed: over the resource section (moving
    // only the relocation sections behind it), or in a new last section.
    // Resource data must be built for this address.
    uint32_t newResourceRva() const;
    bool resourcesInNewSection() const { return appendSection_; }

    // The file with resources (built for newResourceRva) as its resource
    // directory: section table, image size, initialised-data size and
    // checksum fixed; a signature is dropped (signatureDropped says so).
    bool rebuild(const Bytes& resources, Bytes& out, bool& signatureDropped, std::string& error) const;

private:
    bool planResources(std::string& error);
    bool movable(size_t index) const;

    Bytes file_;
    uint16_t machine_ = 0;
    bool is64_ = false;
    size_t optionalHeader_ = 0;
    size_t sectionTable_ = 0;
    uint32_t fileAlignment_ = 0;
    uint32_t sectionAlignment_ = 0;
    uint32_t sizeOfHeaders_ = 0;
    size_t endOfSections_ = 0;
    std::vector<PeSection> sections_;
    std::vector<DataDirectory> directories_;
    // The section rewritten in place (when not appending), in section order.
    int resourceSection_ = -1;
    bool appendSection_ = false;
    std::string planError_;  // why the image cannot take new resources
};

// The image checksum of a file: 16-bit sums with the carry folded in, the
// checksum field itself (at checksumOffset) counted as zero, plus the length.
uint32_t imageChecksum(const uint8_t* data, size_t size, size_t checksumOffset);

#endif
