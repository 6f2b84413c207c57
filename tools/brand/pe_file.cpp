#include "tools/brand/pe_file.h"

#include <string.h>

#include <algorithm>

namespace {

const uint16_t kMachineI386 = 0x014C;
const uint16_t kMachineAmd64 = 0x8664;
const uint16_t kMagicPe32 = 0x10B;
const uint16_t kMagicPe32Plus = 0x20B;
const uint16_t kFileExecutable = 0x0002;
const uint16_t kFileDll = 0x2000;
const uint32_t kSectionCode = 0x00000020;
const uint32_t kSectionInitialisedData = 0x00000040;
const uint32_t kSectionExecute = 0x20000000;
const uint32_t kSectionRead = 0x40000000;
const uint32_t kSectionWrite = 0x80000000;
const size_t kSectionHeaderSize = 40;
const size_t kMaxSections = 96;

// Optional-header fields at the same place in both formats.
const size_t kSizeOfInitialisedData = 8;
const size_t kSectionAlignment = 32;
const size_t kFileAlignment = 36;
const size_t kSizeOfImage = 56;
const size_t kSizeOfHeaders = 60;
const size_t kCheckSum = 64;

bool isPowerOfTwo(uint32_t value) { return value && !(value & (value - 1)); }

bool fail(std::string& error, const char* text) {
    error = text;
    return false;
}

}  // namespace

bool PeFile::parse(const Bytes& file, std::string& error) {
    file_ = file;
    sections_.clear();
    directories_.clear();
    const size_t size = file_.size();
    const uint8_t* data = file_.data();
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return fail(error, "no MZ header");
    uint32_t peOffset = read32(data + 0x3C);
    if (!insideBuffer(size, peOffset, 24) || read32(data + peOffset) != 0x00004550)
        return fail(error, "no PE header");
    const uint8_t* fileHeader = data + peOffset + 4;
    machine_ = read16(fileHeader);
    uint16_t sectionCount = read16(fileHeader + 2);
    uint16_t optionalSize = read16(fileHeader + 16);
    uint16_t characteristics = read16(fileHeader + 18);
    if (machine_ != kMachineI386 && machine_ != kMachineAmd64)
        return fail(error, "built for a processor other than x86 or x64");
    if (!(characteristics & kFileExecutable) || (characteristics & kFileDll))
        return fail(error, "a library or an object file, not an executable");

    optionalHeader_ = peOffset + 24;
    if (!insideBuffer(size, optionalHeader_, optionalSize) || optionalSize < 96)
        return fail(error, "truncated optional header");
    const uint8_t* optional = data + optionalHeader_;
    uint16_t magic = read16(optional);
    is64_ = magic == kMagicPe32Plus;
    if ((machine_ == kMachineI386 && magic != kMagicPe32) || (machine_ == kMachineAmd64 && !is64_))
        return fail(error, "the optional header does not fit the processor");
    size_t directoryCountField = is64_ ? 108 : 92;
    size_t directoryTable = directoryCountField + 4;
    if (optionalSize < directoryTable) return fail(error, "truncated optional header");
    uint32_t directoryCount = read32(optional + directoryCountField);
    if (directoryCount > 16 || directoryTable + 8 * directoryCount > optionalSize)
        return fail(error, "damaged data directory table");
    for (uint32_t i = 0; i < directoryCount; ++i) {
        DataDirectory entry;
        entry.rva = read32(optional + directoryTable + 8 * i);
        entry.size = read32(optional + directoryTable + 8 * i + 4);
        directories_.push_back(entry);
    }
    // The writer places the resource directory's entry, so the table needs it.
    if (directoryCount <= kDirectoryResources) return fail(error, "no resource directory entry");

    sectionAlignment_ = read32(optional + kSectionAlignment);
    fileAlignment_ = read32(optional + kFileAlignment);
    sizeOfHeaders_ = read32(optional + kSizeOfHeaders);
    if (sizeOfHeaders_ > size) return fail(error, "truncated headers");
    if (!isPowerOfTwo(fileAlignment_) || fileAlignment_ < 0x200 || fileAlignment_ > 0x10000 ||
        !isPowerOfTwo(sectionAlignment_) || sectionAlignment_ < fileAlignment_)
        return fail(error, "unusual file or section alignment");

    sectionTable_ = optionalHeader_ + optionalSize;
    if (sectionCount == 0 || sectionCount > kMaxSections) return fail(error, "no usable section table");
    if (!insideBuffer(size, sectionTable_, kSectionHeaderSize * sectionCount) ||
        sectionTable_ + kSectionHeaderSize * sectionCount > sizeOfHeaders_)
        return fail(error, "the section table lies outside the headers");
    endOfSections_ = sizeOfHeaders_;
    uint64_t nextAddress = 0;
    for (size_t i = 0; i < sectionCount; ++i) {
        const uint8_t* entry = data + sectionTable_ + kSectionHeaderSize * i;
        PeSection section;
        section.name.assign(reinterpret_cast<const char*>(entry), strnlen(reinterpret_cast<const char*>(entry), 8));
        section.virtualSize = read32(entry + 8);
        section.virtualAddress = read32(entry + 12);
        section.rawSize = read32(entry + 16);
        section.rawOffset = read32(entry + 20);
        section.characteristics = read32(entry + 36);
        if (section.virtualAddress < nextAddress || section.virtualAddress % sectionAlignment_)
            return fail(error, "sections overlap or are out of order");
        nextAddress = section.virtualAddress + alignUp(section.extent(), sectionAlignment_);
        if (nextAddress > 0x80000000u) return fail(error, "the image is too large");
        if (section.rawSize) {
            if (!insideBuffer(size, section.rawOffset, section.rawSize) || section.rawOffset < sizeOfHeaders_)
                return fail(error, "a section's data lies outside the file");
            endOfSections_ = std::max<size_t>(endOfSections_, section.rawOffset + section.rawSize);
        }
        sections_.push_back(section);
    }

    // The certificate table is addressed by file offset and must follow the
    // sections, where the signer puts it.
    DataDirectory signature = directory(kDirectorySecurity);
    if (signature.size && (signature.rva < endOfSections_ || !insideBuffer(size, signature.rva, signature.size)))
        return fail(error, "damaged signature entry");
    DataDirectory resources = directory(kDirectoryResources);
    if (resources.size && sectionAt(resources.rva) < 0)
        return fail(error, "the resource directory lies outside the sections");
    // An image that cannot take new resources is still read: only writing fails.
    planResources(planError_);
    return true;
}

int PeFile::sectionAt(uint32_t rva) const {
    for (size_t i = 0; i < sections_.size(); ++i) {
        const PeSection& s = sections_[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < alignUp(s.extent(), sectionAlignment_))
            return static_cast<int>(i);
    }
    return -1;
}

bool PeFile::offsetOf(uint32_t rva, uint32_t length, size_t& offset) const {
    int index = sectionAt(rva);
    if (index < 0) return false;
    const PeSection& s = sections_[index];
    uint32_t within = rva - s.virtualAddress;
    if (!insideBuffer(s.rawSize, within, length)) return false;
    offset = s.rawOffset + within;
    return true;
}

// A section behind the resources may move only when nothing refers to it by
// address: it holds the relocation directory and no other, and no code or
// writable data.
bool PeFile::movable(size_t index) const {
    const PeSection& s = sections_[index];
    if (s.characteristics & (kSectionCode | kSectionExecute | kSectionWrite)) return false;
    DataDirectory relocations = directory(kDirectoryRelocations);
    if (!relocations.size || sectionAt(relocations.rva) != static_cast<int>(index)) return false;
    if (relocations.rva != s.virtualAddress || relocations.size > s.extent()) return false;
    for (size_t i = 0; i < directories_.size(); ++i) {
        if (i == kDirectoryRelocations || i == kDirectorySecurity || !directories_[i].size) continue;
        if (sectionAt(directories_[i].rva) == static_cast<int>(index)) return false;
    }
    return true;
}

bool PeFile::planResources(std::string& error) {
    error.clear();
    resourceSection_ = -1;
    appendSection_ = true;
    DataDirectory resources = directory(kDirectoryResources);
    int index = resources.size ? sectionAt(resources.rva) : -1;

    bool inPlace = index >= 0 && resources.rva == sections_[index].virtualAddress && sections_[index].rawSize;
    for (size_t i = 0; inPlace && i < directories_.size(); ++i) {
        if (i != kDirectoryResources && i != kDirectorySecurity && directories_[i].size &&
            sectionAt(directories_[i].rva) == index)
            inPlace = false;
    }
    // Everything before the resource section keeps its place in the file;
    // what follows it in the file must be the movable sections.
    uint32_t resourceStart = inPlace ? sections_[index].rawOffset : 0;
    for (size_t i = 0; inPlace && i < sections_.size(); ++i) {
        if (static_cast<int>(i) == index || !sections_[i].rawSize) continue;
        if (static_cast<int>(i) < index) {
            inPlace = sections_[i].rawOffset + sections_[i].rawSize <= resourceStart;
        } else {
            inPlace = movable(i) && sections_[i].rawOffset >= resourceStart + sections_[index].rawSize;
        }
    }
    for (size_t i = index + 1; inPlace && i < sections_.size(); ++i) inPlace = movable(i);
    // Debug entries point at their data by file offset too.
    DataDirectory debug = directory(kDirectoryDebug);
    size_t debugOffset;
    if (inPlace && debug.size && offsetOf(debug.rva, debug.size, debugOffset)) {
        for (size_t at = debugOffset; at + 28 <= debugOffset + debug.size; at += 28) {
            uint32_t rawPointer = read32(file_.data() + at + 24);
            if (rawPointer >= resourceStart) inPlace = false;
        }
    }
    if (inPlace) {
        resourceSection_ = index;
        appendSection_ = false;
        return true;
    }
    size_t firstData = sizeOfHeaders_;
    for (const PeSection& s : sections_)
        if (s.rawSize) firstData = std::min<size_t>(firstData, s.rawOffset);
    if (sectionTable_ + kSectionHeaderSize * (sections_.size() + 1) > firstData)
        return fail(error, "no room in the headers for a new resource section");
    if (sections_.size() + 1 > kMaxSections) return fail(error, "too many sections");
    // Bound imports live in the headers, right behind the section table.
    const uint32_t kDirectoryBoundImports = 11;
    DataDirectory bound = directory(kDirectoryBoundImports);
    if (bound.size && bound.rva < sectionTable_ + kSectionHeaderSize * (sections_.size() + 1))
        return fail(error, "no room in the headers for a new resource section");
    return true;
}

uint32_t PeFile::newResourceRva() const {
    if (!appendSection_) return sections_[resourceSection_].virtualAddress;
    const PeSection& last = sections_.back();
    return static_cast<uint32_t>(alignUp(last.virtualAddress + uint64_t(last.extent()), sectionAlignment_));
}

bool PeFile::rebuild(const Bytes& resources, Bytes& out, bool& signatureDropped, std::string& error) const {
    if (!planError_.empty()) return fail(error, planError_.c_str());
    std::vector<PeSection> layout = sections_;
    std::vector<DataDirectory> directories = directories_;
    const uint32_t resourceSize = static_cast<uint32_t>(resources.size());
    const uint32_t resourceRaw = static_cast<uint32_t>(alignUp(resourceSize, fileAlignment_));
    size_t keep;  // bytes of the input kept as they are, headers first
    if (appendSection_) {
        keep = endOfSections_;
        PeSection added;
        added.name = ".rsrc";
        added.virtualAddress = newResourceRva();
        added.virtualSize = resourceSize;
        added.rawSize = resourceRaw;
        added.rawOffset = static_cast<uint32_t>(alignUp(endOfSections_, fileAlignment_));
        added.characteristics = kSectionInitialisedData | kSectionRead;
        layout.push_back(added);
    } else {
        PeSection& target = layout[resourceSection_];
        keep = target.rawOffset;
        target.virtualSize = resourceSize;
        target.rawSize = resourceRaw;
        uint64_t nextAddress = alignUp(target.virtualAddress + uint64_t(resourceSize), sectionAlignment_);
        uint64_t nextRaw = target.rawOffset + uint64_t(resourceRaw);
        for (size_t i = resourceSection_ + 1; i < layout.size(); ++i) {
            PeSection& moved = layout[i];
            uint32_t shift = static_cast<uint32_t>(nextAddress) - moved.virtualAddress;
            for (size_t d = 0; d < directories.size(); ++d) {
                if (d != kDirectorySecurity && directories[d].size && sectionAt(directories[d].rva) == static_cast<int>(i))
                    directories[d].rva += shift;
            }
            moved.virtualAddress = static_cast<uint32_t>(nextAddress);
            if (moved.rawSize) {
                moved.rawOffset = static_cast<uint32_t>(nextRaw);
                nextRaw += moved.rawSize;
            }
            nextAddress = alignUp(nextAddress + moved.extent(), sectionAlignment_);
        }
    }
    const PeSection& last = layout.back();
    uint64_t imageSize = alignUp(last.virtualAddress + uint64_t(last.extent()), sectionAlignment_);
    if (imageSize > 0x80000000u) return fail(error, "the resources make the image too large");

    out.assign(file_.begin(), file_.begin() + keep);
    for (size_t i = 0; i < layout.size(); ++i) {
        const PeSection& s = layout[i];
        bool isResources = appendSection_ ? i == sections_.size() : static_cast<int>(i) == resourceSection_;
        if (!s.rawSize || (s.rawOffset < keep && !isResources)) continue;
        out.resize(s.rawOffset, 0);
        if (isResources) {
            out.insert(out.end(), resources.begin(), resources.end());
        } else {
            const PeSection& from = sections_[i];
            out.insert(out.end(), file_.begin() + from.rawOffset, file_.begin() + from.rawOffset + from.rawSize);
        }
        out.resize(s.rawOffset + s.rawSize, 0);
    }

    // Appended data (an embedded jar) stays at the end; a signature, which
    // no longer matches, is left out.
    DataDirectory signature = directory(kDirectorySecurity);
    signatureDropped = signature.size != 0;
    size_t overlayEnd = signatureDropped ? signature.rva : file_.size();
    out.insert(out.end(), file_.begin() + endOfSections_, file_.begin() + overlayEnd);
    if (signatureDropped) {
        out.insert(out.end(), file_.begin() + signature.rva + signature.size, file_.end());
        directories[kDirectorySecurity] = DataDirectory();
    }
    directories[kDirectoryResources].rva = newResourceRva();
    directories[kDirectoryResources].size = resourceSize;

    // Headers: section count and table, directories, sizes and checksum.
    uint8_t* optional = out.data() + optionalHeader_;
    write16(out.data() + optionalHeader_ - 20 + 2, static_cast<uint32_t>(layout.size()));
    for (size_t i = 0; i < layout.size(); ++i) {
        uint8_t* entry = out.data() + sectionTable_ + kSectionHeaderSize * i;
        const PeSection& s = layout[i];
        if (i == sections_.size()) {
            std::fill(entry, entry + kSectionHeaderSize, 0);
            std::copy(s.name.begin(), s.name.end(), entry);
            write32(entry + 36, s.characteristics);
        }
        write32(entry + 8, s.virtualSize);
        write32(entry + 12, s.virtualAddress);
        write32(entry + 16, s.rawSize);
        write32(entry + 20, s.rawSize ? s.rawOffset : 0);
    }
    size_t directoryTable = is64_ ? 112 : 96;
    for (size_t i = 0; i < directories.size(); ++i) {
        write32(optional + directoryTable + 8 * i, directories[i].rva);
        write32(optional + directoryTable + 8 * i + 4, directories[i].size);
    }
    write32(optional + kSizeOfImage, static_cast<uint32_t>(imageSize));
    uint64_t initialised = read32(optional + kSizeOfInitialisedData);
    for (size_t i = 0; i < layout.size(); ++i) {
        if (!(layout[i].characteristics & kSectionInitialisedData)) continue;
        initialised += layout[i].rawSize;
        if (i < sections_.size()) initialised -= sections_[i].rawSize;
    }
    write32(optional + kSizeOfInitialisedData, static_cast<uint32_t>(initialised));
    write32(optional + kCheckSum, imageChecksum(out.data(), out.size(), optionalHeader_ + kCheckSum));
    return true;
}

uint32_t imageChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2) continue;
        sum += read16(data + i);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (size & 1) sum += data[size - 1];
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + size);
}
