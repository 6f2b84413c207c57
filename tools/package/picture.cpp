#include "tools/package/picture.h"

#include <string.h>

#include "tools/package/deflate.h"

namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t readBig32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void appendBig32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void appendChunk(Bytes& out, const char* type, const Bytes& data) {
    appendBig32(out, static_cast<uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    appendBig32(out, crc32Update(0, out.data() + start, out.size() - start));
}

uint8_t paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

}  // namespace

bool pngSize(const Bytes& file, uint32_t& width, uint32_t& height) {
    if (file.size() < 33 || memcmp(file.data(), kSignature, 8) != 0 || memcmp(&file[12], "IHDR", 4) != 0)
        return false;
    width = readBig32(&file[16]);
    height = readBig32(&file[20]);
    return true;
}

bool readPng(const Bytes& file, Picture& picture, std::string& error) {
    if (!pngSize(file, picture.width, picture.height)) {
        error = "not a PNG file";
        return false;
    }
    uint8_t depth = file[24], colour = file[25], interlace = file[28];
    int channels = colour == 0 ? 1 : colour == 2 ? 3 : colour == 3 ? 1 : colour == 4 ? 2 : colour == 6 ? 4 : 0;
    if (depth != 8 || channels == 0 || interlace != 0 || picture.width == 0 || picture.height == 0 ||
        picture.width > 4096 || picture.height > 4096) {
        error = "only 8-bit, non-interlaced PNG pictures up to 4096 pixels are read";
        return false;
    }
    Bytes compressed, palette, transparency;
    for (size_t at = 8; insideBuffer(file.size(), at, 12);) {
        uint32_t length = readBig32(&file[at]);
        if (!insideBuffer(file.size(), at + 8, uint64_t(length) + 4)) break;
        const uint8_t* type = &file[at + 4];
        const uint8_t* data = &file[at + 8];
        if (!memcmp(type, "IDAT", 4)) compressed.insert(compressed.end(), data, data + length);
        else if (!memcmp(type, "PLTE", 4)) palette.assign(data, data + length);
        else if (!memcmp(type, "tRNS", 4)) transparency.assign(data, data + length);
        else if (!memcmp(type, "IEND", 4)) break;
        at += 12 + size_t(length);
    }
    size_t stride = size_t(picture.width) * channels;
    size_t expected = (stride + 1) * picture.height;
    Bytes raw;
    // A zlib stream: two header bytes, the deflate data, an Adler-32.
    if (compressed.size() < 6 || !inflateAll(&compressed[2], compressed.size() - 6, expected, raw) ||
        raw.size() != expected) {
        error = "the PNG's picture data is damaged";
        return false;
    }
    Bytes rows(stride * picture.height);
    for (uint32_t y = 0; y < picture.height; ++y) {
        uint8_t filter = raw[y * (stride + 1)];
        const uint8_t* in = &raw[y * (stride + 1) + 1];
        uint8_t* row = &rows[y * stride];
        const uint8_t* above = y ? row - stride : nullptr;
        for (size_t x = 0; x < stride; ++x) {
            int a = x >= size_t(channels) ? row[x - channels] : 0;
            int b = above ? above[x] : 0;
            int c = above && x >= size_t(channels) ? above[x - channels] : 0;
            int predicted = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : paeth(a, b, c);
            if (filter > 4) {
                error = "the PNG's picture data is damaged";
                return false;
            }
            row[x] = static_cast<uint8_t>(in[x] + predicted);
        }
    }
    picture.rgba.resize(size_t(picture.width) * picture.height * 4);
    for (size_t i = 0; i < size_t(picture.width) * picture.height; ++i) {
        const uint8_t* p = &rows[i * channels];
        uint8_t* q = &picture.rgba[i * 4];
        if (colour == 3) {
            if (size_t(p[0]) * 3 + 3 > palette.size()) {
                error = "the PNG's palette is damaged";
                return false;
            }
            memcpy(q, &palette[p[0] * 3], 3);
            q[3] = p[0] < transparency.size() ? transparency[p[0]] : 255;
        } else if (channels <= 2) {
            q[0] = q[1] = q[2] = p[0];
            q[3] = channels == 2 ? p[1] : 255;
        } else {
            memcpy(q, p, 3);
            q[3] = channels == 4 ? p[3] : 255;
        }
    }
    return true;
}

Picture scaledPicture(const Picture& picture, uint32_t size) {
    Picture out;
    out.width = out.height = size;
    out.rgba.resize(size_t(size) * size * 4);
    // Each target pixel averages the source area it covers, in 1/size
    // steps of the source so that no pixel is lost or counted twice.
    for (uint32_t ty = 0; ty < size; ++ty) {
        uint64_t y0 = uint64_t(ty) * picture.height, y1 = uint64_t(ty + 1) * picture.height;
        for (uint32_t tx = 0; tx < size; ++tx) {
            uint64_t x0 = uint64_t(tx) * picture.width, x1 = uint64_t(tx + 1) * picture.width;
            double sum[4] = {0, 0, 0, 0}, weight = 0;
            for (uint64_t sy = y0 / size; sy * size < y1 && sy < picture.height; ++sy) {
                uint64_t top = sy * size > y0 ? sy * size : y0, bottom = (sy + 1) * size < y1 ? (sy + 1) * size : y1;
                for (uint64_t sx = x0 / size; sx * size < x1 && sx < picture.width; ++sx) {
                    uint64_t left = sx * size > x0 ? sx * size : x0, right = (sx + 1) * size < x1 ? (sx + 1) * size : x1;
                    double area = double(bottom - top) * double(right - left);
                    const uint8_t* p = &picture.rgba[(sy * picture.width + sx) * 4];
                    double alpha = p[3] * area;
                    for (int k = 0; k < 3; ++k) sum[k] += p[k] * alpha;
                    sum[3] += alpha;
                    weight += area;
                }
            }
            uint8_t* q = &out.rgba[(size_t(ty) * size + tx) * 4];
            for (int k = 0; k < 3; ++k) q[k] = sum[3] > 0 ? static_cast<uint8_t>(sum[k] / sum[3] + 0.5) : 0;
            q[3] = static_cast<uint8_t>(sum[3] / weight + 0.5);
        }
    }
    return out;
}

Bytes pngFile(const Picture& picture) {
    Bytes out(kSignature, kSignature + 8);
    Bytes header;
    appendBig32(header, picture.width);
    appendBig32(header, picture.height);
    const uint8_t rest[5] = {8, 6, 0, 0, 0};  // 8-bit RGBA, no interlace
    header.insert(header.end(), rest, rest + 5);
    appendChunk(out, "IHDR", header);
    Bytes raw;
    size_t stride = size_t(picture.width) * 4;
    for (uint32_t y = 0; y < picture.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), picture.rgba.begin() + y * stride, picture.rgba.begin() + (y + 1) * stride);
    }
    Bytes zlib = {0x78, 0x01};
    Bytes deflated = deflateAll(raw);
    zlib.insert(zlib.end(), deflated.begin(), deflated.end());
    appendBig32(zlib, adler32Of(raw));
    appendChunk(out, "IDAT", zlib);
    appendChunk(out, "IEND", Bytes());
    return out;
}

Bytes iconFile(const Picture& picture, const std::vector<uint32_t>& sizes) {
    std::vector<Bytes> images;
    for (uint32_t size : sizes) {
        Picture scaled = size == picture.width && size == picture.height ? picture : scaledPicture(picture, size);
        if (size >= 64) {
            images.push_back(pngFile(scaled));
            continue;
        }
        // BITMAPINFOHEADER with the doubled height of the colour and mask
        // rows, BGRA rows bottom up, then the 1-bit mask (alpha decides).
        Bytes dib;
        append32(dib, 40);
        append32(dib, size);
        append32(dib, size * 2);
        append16(dib, 1);
        append16(dib, 32);
        for (int i = 0; i < 6; ++i) append32(dib, 0);
        for (uint32_t y = size; y-- > 0;)
            for (uint32_t x = 0; x < size; ++x) {
                const uint8_t* p = &scaled.rgba[(size_t(y) * size + x) * 4];
                const uint8_t bgra[4] = {p[2], p[1], p[0], p[3]};
                dib.insert(dib.end(), bgra, bgra + 4);
            }
        uint32_t maskStride = (size + 31) / 32 * 4;
        dib.resize(dib.size() + size_t(maskStride) * size, 0);
        images.push_back(dib);
    }
    Bytes out;
    append16(out, 0);
    append16(out, 1);
    append16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(sizes[i] >= 256 ? 0 : sizes[i]));
        out.push_back(static_cast<uint8_t>(sizes[i] >= 256 ? 0 : sizes[i]));
        out.push_back(0);
        out.push_back(0);
        append16(out, 1);
        append16(out, 32);
        append32(out, static_cast<uint32_t>(images[i].size()));
        append32(out, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const Bytes& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}
