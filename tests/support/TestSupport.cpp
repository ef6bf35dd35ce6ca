#include "TestSupport.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::~TempDir() {
    std::error_code ignored;
    const fs::path top = FileSystemPath(Path);
    // Folders made read-only by a test must become writable again to be removed.
    for (auto& entry : fs::recursive_directory_iterator(top, ignored))
        if (entry.is_directory(ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(top, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(top, ignored);
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(FileSystemPath(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(FileSystemPath(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(FileSystemPath(path), ignored));
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    for (auto& entry : fs::directory_iterator(FileSystemPath(path)))
        names.push_back(Utf8Name(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

void AppendLE16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendLE32(Bytes& out, std::uint32_t value) {
    AppendLE16(out, static_cast<std::uint16_t>(value));
    AppendLE16(out, static_cast<std::uint16_t>(value >> 16));
}

void AppendText(Bytes& out, const char* fourChars) {
    // One byte at a time: GCC 12 takes a ranged insert into an empty vector for an overflow.
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<std::uint8_t>(fourChars[k]));
}

Bytes ChunkWithSize(const char* id, std::uint32_t size, const Bytes& data) {
    Bytes out;
    AppendText(out, id);
    AppendLE32(out, size);
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2)
        out.push_back(0);
    return out;
}

Bytes Chunk(const char* id, const Bytes& data) {
    return ChunkWithSize(id, static_cast<std::uint32_t>(data.size()), data);
}

Bytes Riff(const char* formType, std::initializer_list<Bytes> chunks) {
    Bytes body;
    AppendText(body, formType);
    for (const Bytes& chunk : chunks)
        body.insert(body.end(), chunk.begin(), chunk.end());
    return Chunk("RIFF", body);
}

Bytes FmtRecord(const Format& f, bool withExtra, std::uint16_t extraSize) {
    const std::uint16_t align =
        f.BlockAlign ? f.BlockAlign : static_cast<std::uint16_t>(f.Channels * (f.Bits / 8));
    const std::uint32_t avg = f.AvgBytesPerSec ? f.AvgBytesPerSec : f.Rate * align;
    Bytes out;
    AppendLE16(out, f.Tag);
    AppendLE16(out, f.Channels);
    AppendLE32(out, f.Rate);
    AppendLE32(out, avg);
    AppendLE16(out, align);
    AppendLE16(out, f.Bits);
    if (withExtra)
        AppendLE16(out, extraSize);
    return out;
}

Bytes WaveImage(const Format& format, const Bytes& samples) {
    return Riff("WAVE", {Chunk("fmt ", FmtRecord(format)), Chunk("data", samples)});
}

Bytes Samples16(std::initializer_list<std::int16_t> samples) {
    Bytes out;
    for (std::int16_t s : samples)
        AppendLE16(out, static_cast<std::uint16_t>(s));
    return out;
}

Bytes SamplesLE(int width, std::initializer_list<std::int64_t> samples) {
    Bytes out;
    for (std::int64_t s : samples)
        for (int b = 0; b < width; ++b)
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(s) >> (8 * b)));
    return out;
}

Bytes Floats32(std::initializer_list<float> samples) {
    Bytes out;
    for (float s : samples)
        AppendLE32(out, std::bit_cast<std::uint32_t>(s));
    return out;
}

Bytes Floats64(std::initializer_list<double> samples) {
    Bytes out;
    for (double s : samples) {
        const auto bits = std::bit_cast<std::uint64_t>(s);
        AppendLE32(out, static_cast<std::uint32_t>(bits));
        AppendLE32(out, static_cast<std::uint32_t>(bits >> 32));
    }
    return out;
}

Bytes ExtensibleRecord(const Format& format, std::uint16_t validBits, std::uint32_t channelMask,
                       std::uint16_t subTag, std::uint16_t extensionSize) {
    Format extensible = format;
    extensible.Tag = 0xFFFE;
    Bytes out = FmtRecord(extensible, true, extensionSize);
    AppendLE16(out, validBits);
    AppendLE32(out, channelMask);
    // {subTag-0000-0010-8000-00aa00389b71}
    const Bytes guid = {0,    0,    0x00, 0x00, 0x10, 0x00, 0x80,
                        0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    AppendLE16(out, subTag);
    out.insert(out.end(), guid.begin(), guid.end());
    return out;
}
