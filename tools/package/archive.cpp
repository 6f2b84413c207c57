#include "tools/package/archive.h"

#include <string.h>

namespace {

// The MS-DOS date and time of a zip entry, from seconds since 1970 (UTC).
void dosTime(int64_t time, uint16_t& dosDate, uint16_t& dosClock) {
    int64_t days = time / 86400, seconds = time % 86400;
    // Civil date from days (Howard Hinnant's algorithm).
    days += 719468;
    int64_t era = days / 146097, dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t mp = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2);
    if (year < 1980) year = 1980, month = 1, day = 1;
    dosDate = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    dosClock = static_cast<uint16_t>(((seconds / 3600) << 11) | ((seconds / 60 % 60) << 5) | (seconds % 60 / 2));
}

void octal(uint8_t* field, size_t width, uint64_t value) {
    // width - 1 digits and the closing NUL.
    field[width - 1] = 0;
    for (size_t i = width - 1; i-- > 0;) {
        field[i] = static_cast<uint8_t>('0' + (value & 7));
        value >>= 3;
    }
}

void gzipHeader(Bytes& out, uint32_t time, uint8_t extraFlags) {
    const uint8_t header[4] = {0x1F, 0x8B, 8, 0};
    out.insert(out.end(), header, header + 4);
    append32(out, time);
    out.push_back(extraFlags);  // 2: "best compression"
    out.push_back(3);  // made on Unix: the modes in the tar are Unix ones
}

}  // namespace

bool ZipWriter::add(const ArchiveEntry& entry) {
    std::string name = entry.folder ? entry.name + "/" : entry.name;
    if (name.size() > 0xFFFF || count_ == 0xFFFF) return false;
    Bytes empty;
    const Bytes& data = entry.data ? *entry.data : empty;
    if (data.size() >= 0xFFFFFFFFull || offset_ >= 0xFFFFFFFFull) return false;  // beyond this format without its 64-bit extension
    uint32_t crc = crc32Of(data);
    Bytes deflated = data.empty() ? Bytes() : deflateAll(data);
    bool stored = data.empty() || deflated.size() >= data.size();
    const Bytes& body = stored ? data : deflated;
    uint16_t date, clock;
    dosTime(time_, date, clock);
    auto fields = [&](Bytes& out, bool central) {
        append16(out, 20);  // version needed: 2.0
        append16(out, 0x0800);  // names in UTF-8
        append16(out, stored ? 0 : 8);
        append16(out, clock);
        append16(out, date);
        append32(out, crc);
        append32(out, static_cast<uint32_t>(body.size()));
        append32(out, static_cast<uint32_t>(data.size()));
        append16(out, static_cast<uint32_t>(name.size()));
        append16(out, 0);
        if (central) {
            append16(out, 0);  // comment
            append16(out, 0);  // disk
            append16(out, 0);  // internal attributes
            // Unix modes above, the MS-DOS folder flag below.
            append32(out, ((entry.folder ? 040000u : 0100000u) | entry.mode) << 16 | (entry.folder ? 0x10 : 0));
            append32(out, static_cast<uint32_t>(offset_));
        }
        out.insert(out.end(), name.begin(), name.end());
    };
    Bytes local;
    append32(local, 0x04034B50);
    fields(local, false);
    append32(directory_, 0x02014B50);
    append16(directory_, 0x031E);  // made on Unix, version 3.0: the modes count
    fields(directory_, true);
    out_.write(reinterpret_cast<const char*>(local.data()), static_cast<std::streamsize>(local.size()));
    out_.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
    offset_ += local.size() + body.size();
    ++count_;
    return static_cast<bool>(out_);
}

bool ZipWriter::finish() {
    if (offset_ + directory_.size() >= 0xFFFFFFFFull) return false;
    Bytes end;
    append32(end, 0x06054B50);
    append16(end, 0);
    append16(end, 0);
    append16(end, count_);
    append16(end, count_);
    append32(end, static_cast<uint32_t>(directory_.size()));
    append32(end, static_cast<uint32_t>(offset_));
    append16(end, 0);
    out_.write(reinterpret_cast<const char*>(directory_.data()), static_cast<std::streamsize>(directory_.size()));
    out_.write(reinterpret_cast<const char*>(end.data()), static_cast<std::streamsize>(end.size()));
    out_.flush();
    return static_cast<bool>(out_);
}

TarGzWriter::TarGzWriter(std::ostream& out, int64_t time) : out_(out), time_(time) {
    Bytes header;
    gzipHeader(header, static_cast<uint32_t>(time), 0);
    out_.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
}

void TarGzWriter::write(const uint8_t* data, size_t size) {
    crc_ = crc32Update(crc_, data, size);
    size_ += size;
    deflater_.write(data, size, buffer_);
    out_.write(reinterpret_cast<const char*>(buffer_.data()), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
}

bool TarGzWriter::add(const ArchiveEntry& entry) {
    std::string name = entry.folder ? entry.name + "/" : entry.name;
    uint64_t size = entry.data && !entry.folder ? entry.data->size() : 0;
    auto header = [&](const std::string& headerName, char type, uint64_t headerSize, uint32_t mode) {
        uint8_t block[512];
        memset(block, 0, sizeof block);
        // ustar: up to 155 bytes of folders in the prefix, 100 of name.
        std::string prefix, rest = headerName;
        if (rest.size() > 100) {
            size_t slash = rest.rfind('/', 155);
            while (slash != std::string::npos && rest.size() - slash - 1 > 100) slash = std::string::npos;
            if (slash != std::string::npos) {
                prefix = rest.substr(0, slash);
                rest = rest.substr(slash + 1);
            } else {
                rest = rest.substr(0, 100);  // the pax record before it holds the whole name
            }
        }
        memcpy(block, rest.data(), rest.size());
        octal(block + 100, 8, mode);
        octal(block + 108, 8, 0);
        octal(block + 116, 8, 0);
        octal(block + 124, 12, headerSize);
        octal(block + 136, 12, static_cast<uint64_t>(time_));
        memset(block + 148, ' ', 8);
        block[156] = static_cast<uint8_t>(type);
        memcpy(block + 257, "ustar", 6);
        memcpy(block + 263, "00", 2);
        memcpy(block + 265, "root", 4);
        memcpy(block + 297, "root", 4);
        memcpy(block + 345, prefix.data(), prefix.size());
        uint32_t sum = 0;
        for (uint8_t byte : block) sum += byte;
        octal(block + 148, 7, sum);
        write(block, sizeof block);
    };
    bool fits = name.size() <= 100;
    if (!fits && name.size() <= 256) {
        size_t slash = name.rfind('/', 155);
        fits = slash != std::string::npos && name.size() - slash - 1 <= 100;
    }
    if (!fits) {
        // A pax record carries a name ustar cannot hold.
        std::string record = " path=" + name + "\n";
        size_t length = record.size() + 1;
        while (std::to_string(length).size() + record.size() != length) ++length;
        record = std::to_string(length) + record;
        header("PaxHeaders/" + name.substr(name.size() > 80 ? name.size() - 80 : 0), 'x', record.size(), 0644);
        Bytes body(record.begin(), record.end());
        body.resize((body.size() + 511) / 512 * 512, 0);
        write(body.data(), body.size());
    }
    header(name, entry.folder ? '5' : '0', size, entry.mode);
    if (size) {
        write(entry.data->data(), entry.data->size());
        static const uint8_t zeros[512] = {0};
        if (size % 512) write(zeros, 512 - size % 512);
    }
    return static_cast<bool>(out_);
}

bool TarGzWriter::finish() {
    static const uint8_t zeros[1024] = {0};
    write(zeros, sizeof zeros);
    deflater_.finish(buffer_);
    append32(buffer_, crc_);
    append32(buffer_, static_cast<uint32_t>(size_));
    out_.write(reinterpret_cast<const char*>(buffer_.data()), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
    out_.flush();
    return static_cast<bool>(out_);
}

Bytes gzipFile(const Bytes& data) {
    Bytes out;
    gzipHeader(out, 0, 2);
    Bytes deflated = deflateAll(data);
    out.insert(out.end(), deflated.begin(), deflated.end());
    append32(out, crc32Of(data));
    append32(out, static_cast<uint32_t>(data.size()));
    return out;
}
