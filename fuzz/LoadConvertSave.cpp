// Loads any byte string as a wave file image, converts it the way the converter handles one
// file, saves it to memory and loads the result again. Failures of the unit's own classes are
// the expected answer to a bad image; anything else (a crash, a sanitizer report, a leak, a
// foreign exception, an image that does not read back as written) is a finding.
#include "RvWAVE.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Settings {
    std::int32_t Rate;     // 0 keeps
    std::int32_t Bits;     // 0 keeps
    std::int32_t Channels; // 0 keeps
};

// Each width and channel step in both directions, with and without a rate relabel.
constexpr Settings kSettings[] = {
    {0, 0, 0}, {8000, 8, 1}, {22050, 16, 2}, {0, 8, 2}, {44100, 16, 1}, {0, 0, 1},
};

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

// Runs one step; the unit's failures are answers, so the caller only learns whether it ran.
template <typename Step> bool Try(Step&& step) {
    try {
        step();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// The converter runs this also after a failed load, on whatever the failure left behind.
void Renormalize8Bit(TRvWave& wave) {
    if (wave.GetBits() == 8) {
        wave.SetBits(16);
        wave.SetBits(8);
    }
}

void Convert(TRvWave& wave, const Settings& settings) {
    if (settings.Rate != 0 && settings.Rate != wave.GetFreq())
        wave.SetFreq(settings.Rate);
    if (settings.Bits != 0 && settings.Bits != wave.GetBits())
        wave.SetBits(settings.Bits);
    if (settings.Channels != 0 && settings.Channels != wave.GetChannels())
        wave.SetChannels(settings.Channels);
}

std::uint32_t LE32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[offset + static_cast<std::size_t>(i)];
    return value;
}

// A saved image has exactly the written layout and loads back into the same wave.
void CheckSaved(const TRvInternalWAVE& saved, const TMemoryStream& out) {
    const std::vector<std::uint8_t>& image = out.bytes();
    const std::uint64_t n = saved.DataSize();
    if (image.size() != 46 + n + (n & 1))
        Finding("image length is not 46 + N + pad");
    if (LE32(image, 4) != 38 + n + (n & 1) || LE32(image, 16) != 18 || LE32(image, 42) != n)
        Finding("chunk sizes of the saved image are wrong");

    TRvWave reloaded;
    TMemoryStream in(image);
    if (!Try([&] { reloaded.LoadFromStream(in); }))
        Finding("a saved image does not load");
    const TRvInternalWAVE& again = *reloaded.Wave();
    if (!(again.WaveFormat == saved.WaveFormat) || again.DataSize() != n)
        Finding("a saved image loads with another format or length");
    if (n != 0 && std::memcmp(again.WaveData.data(), saved.WaveData.data(), n) != 0)
        Finding("a saved image loads with other samples");
}

void LoadConvertSave(const std::vector<std::uint8_t>& image, const Settings& settings) {
    TRvWave wave;
    TMemoryStream in(image);
    const bool loaded = Try([&] { wave.LoadFromStream(in); });
    if (!Try([&] { Renormalize8Bit(wave); }) || !loaded)
        return;
    if (!Try([&] { Convert(wave, settings); }))
        return;
    TMemoryStream out;
    if (Try([&] { wave.SaveToStream(out); }))
        CheckSaved(*wave.Wave(), out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> image(data, data + size);
    for (const Settings& settings : kSettings)
        LoadConvertSave(image, settings);
    return 0;
}
