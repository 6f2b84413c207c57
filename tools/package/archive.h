// The archives of a delivery, written entry by entry: .zip (for Windows,
// entries deflated when that makes them smaller) and .tar.gz (for Linux,
// with the file modes given, whatever the build machine's are).
#ifndef TOOLS_PACKAGE_ARCHIVE_H
#define TOOLS_PACKAGE_ARCHIVE_H

#include <ostream>
#include <string>
#include <vector>

#include "tools/brand/bytes.h"
#include "tools/package/deflate.h"

struct ArchiveEntry {
    std::string name;  // '/' separated; a folder's without the final '/'
    bool folder = false;
    uint32_t mode = 0644;
    const Bytes* data = nullptr;  // a file's content
};

class ArchiveWriter {
public:
    virtual ~ArchiveWriter() = default;
    // False when the entry cannot be written (a name or size the format
    // cannot hold, or the stream failed).
    virtual bool add(const ArchiveEntry& entry) = 0;
    virtual bool finish() = 0;
};

class ZipWriter : public ArchiveWriter {
public:
    ZipWriter(std::ostream& out, int64_t time) : out_(out), time_(time) {}
    bool add(const ArchiveEntry& entry) override;
    bool finish() override;

private:
    std::ostream& out_;
    int64_t time_;
    uint64_t offset_ = 0;
    Bytes directory_;
    uint32_t count_ = 0;
};

class TarGzWriter : public ArchiveWriter {
public:
    TarGzWriter(std::ostream& out, int64_t time);
    bool add(const ArchiveEntry& entry) override;
    bool finish() override;

private:
    void write(const uint8_t* data, size_t size);
    std::ostream& out_;
    int64_t time_;
    Deflater deflater_;
    uint32_t crc_ = 0;
    uint64_t size_ = 0;
    Bytes buffer_;
};

// A whole gzip file of data (the Linux package's changelog): no time, the
// "best compression" mark its checkers look for.
Bytes gzipFile(const Bytes& data);

#endif
