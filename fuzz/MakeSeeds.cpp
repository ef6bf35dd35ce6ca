// Writes the seed corpus into the folder named by its argument: images of every shape the
// loader accepts, saved by the wave unit itself, and the malformed kinds it refuses, made by
// editing those images.
#include "RvWAVE.h"
#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutLE16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLE32(Bytes& b, std::size_t at, std::uint32_t v) {
    PutLE16(b, at, static_cast<std::uint16_t>(v));
    PutLE16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

Bytes Chunk(const char* id, const Bytes& data) {
    Bytes out(id, id + 4);
    out.resize(8);
    PutLE32(out, 4, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2)
        out.push_back(0);
    return out;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(to));
}

// A wave of the shape with a ramp of samples, saved by the unit.
Bytes SavedWave(std::int32_t rate, std::int32_t bits, std::int32_t channels, std::int32_t frames) {
    TRvInternalWAVE wave;
    wave.CreateWAVE(rate, bits, channels, frames);
    for (std::uint64_t i = 0; i < wave.DataSize(); ++i)
        wave.WaveData.data()[i] = static_cast<std::uint8_t>(i * 37 + 11);
    TMemoryStream out;
    wave.SaveToFile(out);
    return out.bytes();
}

// The pieces of a saved image: its 18-byte format record and its samples.
struct Parts {
    Bytes Fmt;
    Bytes Data;
};

Parts Split(const Bytes& image) {
    return {Slice(image, 20, 38), Slice(image, 46, 46 + (image[42] | image[43] << 8))};
}

Bytes RiffOf(const char* form, const std::vector<Bytes>& chunks) {
    Bytes body(form, form + 4);
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return Chunk("RIFF", body);
}

Bytes WithFormat(Parts p, std::uint16_t tag, std::uint16_t channels, std::uint16_t bits) {
    PutLE16(p.Fmt, 0, tag);
    PutLE16(p.Fmt, 2, channels);
    PutLE16(p.Fmt, 14, bits);
    return RiffOf("WAVE", {Chunk("fmt ", p.Fmt), Chunk("data", p.Data)});
}

// A 40-byte WAVE_FORMAT_EXTENSIBLE chunk whose sub-format is the given tag.
Bytes ExtensibleFmt(Bytes fmt, std::uint16_t subTag, std::uint16_t channels, std::uint16_t bits) {
    fmt.resize(40);
    PutLE16(fmt, 0, 0xFFFE);
    PutLE16(fmt, 2, channels);
    PutLE16(fmt, 12, static_cast<std::uint16_t>(channels * bits / 8));
    PutLE16(fmt, 14, bits);
    PutLE16(fmt, 16, 22);
    PutLE16(fmt, 18, bits);
    PutLE32(fmt, 20, 0x3F);
    const std::uint8_t guid[16] = {0,    0,    0,    0,    0x00, 0x00, 0x10, 0x00,
                                   0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    std::copy(guid, guid + 16, fmt.begin() + 24);
    PutLE16(fmt, 24, subTag);
    return fmt;
}

class SeedWriter {
public:
    explicit SeedWriter(std::string folder) : Folder(std::move(folder)) {}
    void operator()(const std::string& name, const Bytes& bytes) {
        std::ofstream out(Folder + "/" + name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        ++Count;
    }
    int Count = 0;

private:
    std::string Folder;
};

void WriteWellFormed(SeedWriter& write) {
    for (std::int32_t rate : {8000, 22050, 44100})
        for (std::int32_t bits : {8, 16})
            for (std::int32_t channels : {1, 2})
                for (std::int32_t frames : {1, 7, 64})
                    write("ok-" + std::to_string(rate) + "-" + std::to_string(bits) + "-" +
                              std::to_string(channels) + "-" + std::to_string(frames),
                          SavedWave(rate, bits, channels, frames));
}

void WriteVariants(SeedWriter& write) {
    const Bytes stereo8 = SavedWave(11025, 8, 2, 9);
    const Parts p = Split(SavedWave(22050, 16, 2, 12));
    const Bytes fmt16 = Slice(p.Fmt, 0, 16);
    const Bytes list = Chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'a'});

    write("fmt16", RiffOf("WAVE", {Chunk("fmt ", fmt16), Chunk("data", p.Data)}));
    write("list-odd", RiffOf("WAVE", {Chunk("fmt ", fmt16), list, Chunk("data", p.Data)}));
    write("junk-first", RiffOf("WAVE", {Chunk("JUNK", Bytes(5)), Chunk("fmt ", p.Fmt),
                                        Chunk("data", p.Data), list}));
    write("empty-data", RiffOf("WAVE", {Chunk("fmt ", p.Fmt), Chunk("data", {})}));
    write("odd-8bit-stereo",
          RiffOf("WAVE", {Chunk("fmt ", Split(stereo8).Fmt), Chunk("data", Bytes(17, 200))}));
    write("data-before-fmt", RiffOf("WAVE", {Chunk("data", p.Data), Chunk("fmt ", p.Fmt)}));
    write("no-fmt", RiffOf("WAVE", {Chunk("data", p.Data)}));
    write("short-fmt", RiffOf("WAVE", {Chunk("fmt ", Slice(p.Fmt, 0, 6)), Chunk("data", p.Data)}));
    Bytes longFmt = p.Fmt;
    longFmt.resize(40);
    write("extensible", RiffOf("WAVE", {Chunk("fmt ", longFmt), Chunk("data", p.Data)}));
    write("other-form", RiffOf("AVI ", {Chunk("fmt ", p.Fmt), Chunk("data", p.Data)}));
    Bytes twoForms = RiffOf("AVI ", {Chunk("JUNK", Bytes(3))});
    const Bytes second = RiffOf("WAVE", {Chunk("fmt ", p.Fmt), Chunk("data", p.Data)});
    twoForms.insert(twoForms.end(), second.begin(), second.end());
    write("second-form", twoForms);
    write("not-riff", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'a', 'v', 'e'});
    write("empty", {});

    Bytes cut = SavedWave(44100, 16, 1, 40);
    cut.resize(cut.size() - 9);
    write("cut-data", cut);
    Bytes huge = SavedWave(44100, 16, 1, 4);
    PutLE32(huge, 42, 0xFFFFFFFFu);
    write("huge-data-size", huge);
    Bytes hugeRiff = SavedWave(44100, 16, 1, 4);
    PutLE32(hugeRiff, 4, 0xFFFFFFFFu);
    write("huge-riff-size", hugeRiff);
    Bytes smallRiff = SavedWave(44100, 16, 1, 4);
    PutLE32(smallRiff, 4, 20);
    write("small-riff-size", smallRiff);

    write("alaw", WithFormat(p, 6, 1, 8));
    write("float", WithFormat(p, 3, 2, 32));
    write("pcm24", WithFormat(p, 1, 2, 24));
    write("pcm4", WithFormat(p, 1, 1, 4));
    write("four-channels", WithFormat(p, 1, 4, 16));
    write("zero-channels-8bit", WithFormat(p, 1, 0, 8));
    write("extensible-pcm24-6ch",
          RiffOf("WAVE", {Chunk("fmt ", ExtensibleFmt(p.Fmt, 1, 6, 24)), Chunk("data", p.Data)}));
    write("extensible-float64",
          RiffOf("WAVE", {Chunk("fmt ", ExtensibleFmt(p.Fmt, 3, 2, 64)), Chunk("data", p.Data)}));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    SeedWriter write(argv[1]);
    WriteWellFormed(write);
    WriteVariants(write);
    std::printf("%d seeds written to %s\n", write.Count, argv[1]);
    return 0;
}
