// Loads any byte string as a wave file image, converts it the way the converter handles one
// file, saves it to memory and loads the result again. Failures of the unit's own classes are
// the expected answer to a bad image; anything else (a crash, a sanitizer report, a leak, a
// foreign exception, an image that does not read back as written) is a finding.
#include "ConversionSteps.h"
#include "LittleEndian.h"
#include "RvWAVE.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

ConversionSettings Settings(std::int32_t rate, std::int32_t bits, std::int32_t channels) {
    ConversionSettings settings;
    settings.RateChoice = rate;
    settings.KeepLowerRate = false; // a chosen rate is always applied, up or down
    settings.BitsChoice = bits;
    settings.ChannelsChoice = channels;
    return settings;
}

// Each width and channel step in both directions, with and without a rate relabel.
const ConversionSettings kSettings[] = {
    Settings(0, 0, 0), Settings(8000, 8, 1),   Settings(22050, 16, 2),
    Settings(0, 8, 2), Settings(44100, 16, 1), Settings(0, 0, 1),
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

// A saved image has exactly the written layout (an 18-byte fmt chunk, or the 40-byte extensible
// one with a "fact" chunk after it for float), and loads back into the same wave.
void CheckSaved(const TRvInternalWAVE& saved, const TMemoryStream& out) {
    const std::vector<std::uint8_t>& image = out.bytes();
    const std::uint64_t n = saved.DataSize();
    const std::uint32_t fmtSize = image.size() >= 20 ? GetLE32(&image[16]) : 0;
    if (fmtSize != 18 && fmtSize != 40)
        Finding("the fmt chunk is neither 18 nor 40 bytes");
    std::uint64_t data = 20 + fmtSize;
    if (fmtSize == 40 && image.size() >= data + 12 && std::memcmp(&image[data], "fact", 4) == 0)
        data += 12;
    if (image.size() != data + 8 + n + (n & 1))
        Finding("image length is not its headers + N + pad");
    if (GetLE32(&image[4]) != image.size() - 8 || GetLE32(&image[data + 4]) != n ||
        std::memcmp(&image[data], "data", 4) != 0)
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

bool SameWave(const TRvInternalWAVE& a, const TRvInternalWAVE& b) {
    const std::uint64_t n = a.DataSize();
    return a.WaveFormat == b.WaveFormat && a.Extension == b.Extension && n == b.DataSize() &&
           (n == 0 || std::memcmp(a.WaveData.data(), b.WaveData.data(), n) == 0);
}

void LoadConvertSave(const std::vector<std::uint8_t>& image, const ConversionSettings& settings) {
    TRvWave wave;
    TMemoryStream in(image);
    const bool loaded = Try([&] { wave.LoadFromStream(in); });
    // The converter re-converts an 8-bit wave also after a failed load.
    if (!Try([&] { Renormalize8Bit(wave); }) || !loaded)
        return;
    const bool converted = Try([&] {
        ConvertRate(wave, settings);
        const SampleChange bits = PlanBits(wave, settings.BitsChoice);
        ApplyChanges(wave, bits, PlanChannels(wave, bits, settings.ChannelsChoice));
    });
    // Both conversions in one pass must make what they make one after the other.
    TRvWave stepwise;
    TMemoryStream again(image);
    const bool steppedThrough = Try([&] {
        stepwise.LoadFromStream(again);
        Renormalize8Bit(stepwise);
        ConvertRate(stepwise, settings);
        if (settings.BitsChoice != 0 && stepwise.GetBits() != settings.BitsChoice)
            stepwise.SetBits(settings.BitsChoice);
        if (settings.ChannelsChoice != 0 && stepwise.GetChannels() != settings.ChannelsChoice)
            stepwise.SetChannels(settings.ChannelsChoice);
    });
    if (converted != steppedThrough || (converted && !SameWave(*wave.Wave(), *stepwise.Wave())))
        Finding("one pass and one conversion after the other differ");
    if (!converted)
        return;
    TMemoryStream out;
    if (Try([&] { wave.SaveToStream(out); }))
        CheckSaved(*wave.Wave(), out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> image(data, data + size);
    for (const ConversionSettings& settings : kSettings)
        LoadConvertSave(image, settings);
    return 0;
}
