// Every build of the sample kernels the processor can run, and the kernels it picks, give the
// bytes of the plain loops, at every length up to a few thousand items, every alignment, and in
// place. CTest runs these under qemu-user too, as older processors (TESSALY_EXPECTED_KERNEL_SET).
#include "SampleConversion.h"
#include "SampleKernelSets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Content { Integer, Float32, Float64 };

struct KernelRow {
    const char* Name;
    SampleKernels::Kernel SampleKernels::*Run = nullptr;
    SampleKernels::MixKernel SampleKernels::*Mix = nullptr;
    std::uint32_t Width;  // bytes a sample, in
    std::uint32_t InItem; // bytes an item (sample or frame) in and out
    std::uint32_t OutItem;
    Content Kind = Content::Integer;
};

#define ROW(Name, In, Out)                                                                         \
    { #Name, &SampleKernels::Name, nullptr, In, In, Out }
#define FLOAT_ROW(Name, In, Out, Kind)                                                             \
    { #Name, &SampleKernels::Name, nullptr, In, In, Out, Kind }

const KernelRow kRows[] = {
    ROW(Convert8To16, 1, 2),
    ROW(Convert16To8, 2, 1),
    ROW(MonoToStereo8, 1, 2),
    ROW(MonoToStereo16, 2, 4),
    {"StereoToMono8", &SampleKernels::StereoToMono8, nullptr, 1, 2, 1},
    {"StereoToMono16", &SampleKernels::StereoToMono16, nullptr, 2, 4, 2},
    ROW(Convert24To16, 3, 2),
    ROW(Convert24To8, 3, 1),
    ROW(Convert32To16, 4, 2),
    ROW(Convert32To8, 4, 1),
    FLOAT_ROW(ConvertFloat32To16, 4, 2, Content::Float32),
    FLOAT_ROW(ConvertFloat32To8, 4, 1, Content::Float32),
    FLOAT_ROW(ConvertFloat64To16, 8, 2, Content::Float64),
    FLOAT_ROW(ConvertFloat64To8, 8, 1, Content::Float64),
    ROW(MonoToStereo24, 3, 6),
    ROW(MonoToStereo32, 4, 8),
    ROW(MonoToStereo64, 8, 16),
    // Frame sizes come from the channel count of each run.
    {"MixToMono8", nullptr, &SampleKernels::MixToMono8, 1, 1, 1},
    {"MixToMono16", nullptr, &SampleKernels::MixToMono16, 2, 2, 2},
    {"MixToMono24", nullptr, &SampleKernels::MixToMono24, 3, 3, 3},
    {"MixToMono32", nullptr, &SampleKernels::MixToMono32, 4, 4, 4},
    {"MixToMonoFloat32", nullptr, &SampleKernels::MixToMonoFloat32, 4, 4, 4, Content::Float32},
    {"MixToMonoFloat64", nullptr, &SampleKernels::MixToMonoFloat64, 8, 8, 8, Content::Float64},
};

// The kernels the program calls: those of the set picked for this processor.
#define PICKED_ENTRY(Name) &::Name,
constexpr SampleKernels kPicked{TESSALY_SAMPLE_KERNELS(PICKED_ENTRY, PICKED_ENTRY)};

// Noise with the extreme values of each width mixed in: every byte pattern at the top and the
// bottom of the range, and for floats the values at and around the clamps, zeros of both
// signs, infinities, NaNs and tiny ones.
Bytes Samples(const KernelRow& row, std::uint64_t samples, std::uint32_t seed) {
    Bytes bytes(samples * row.Width + 64);
    std::uint32_t state = seed;
    const auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(next() >> 24);
    const double specials[] = {0.0,
                               -0.0,
                               1.0,
                               -1.0,
                               32767.0 / 32768,
                               -32767.0 / 32768,
                               127.0 / 128,
                               1.0000001,
                               -1.0000001,
                               0.5,
                               -0.5,
                               1e300,
                               -1e300,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(),
                               1e-40,
                               -1e-320,
                               3e38,
                               -1 / 65536.0,
                               1 / 256.0,
                               -1 / 256.0,
                               65535.0 / 65536};
    for (std::uint64_t i = 0; i < samples; ++i) {
        std::uint8_t* sample = bytes.data() + i * row.Width;
        const std::uint32_t pick = next() >> 27;
        if (row.Kind == Content::Integer) {
            // All ones or all zeros, with the top byte's sign bit one way or the other.
            if (pick < 8)
                for (std::uint32_t b = 0; b < row.Width; ++b)
                    sample[b] = b + 1 == row.Width ? std::uint8_t(pick & 1 ? 0x7F : 0x80)
                                                   : std::uint8_t(pick & 2 ? 0xFF : 0x00);
            continue;
        }
        const double x = pick < 12   ? specials[(next() >> 8) % std::size(specials)]
                         : pick < 28 ? (static_cast<int>(next() >> 16) - 32768) / 30000.0
                                     : std::nan("");
        if (pick >= 28 && pick < 31)
            continue; // random bits: NaNs with payloads, huge and tiny values
        if (row.Kind == Content::Float32) {
            const float f = static_cast<float>(x);
            std::memcpy(sample, &f, 4);
        } else {
            std::memcpy(sample, &x, 8);
        }
    }
    return bytes;
}

void RunKernel(const SampleKernels& kernels, const KernelRow& row, std::uint32_t channels,
               const std::uint8_t* in, std::uint8_t* out, std::uint64_t items) {
    if (row.Run)
        (kernels.*row.Run)(in, out, items);
    else
        (kernels.*row.Mix)(in, out, items, channels);
}

std::string Where(const KernelRow& row, std::uint32_t channels, int set, std::uint64_t items,
                  std::uint64_t inOffset, std::uint64_t outOffset) {
    return std::string(row.Name) + " channels " + std::to_string(channels) + " set " +
           std::to_string(set) + " items " + std::to_string(items) + " offsets " +
           std::to_string(inOffset) + "/" + std::to_string(outOffset);
}

TEST(SampleKernels, EverySetGivesThePlainLoopsBytesAtEveryLengthAndAlignment) {
    const SampleKernels* plain = KernelsOf(KernelSet::Scalar);
    ASSERT_NE(plain, nullptr);
    std::vector<std::pair<int, const SampleKernels*>> sets;
    for (KernelSet set : {KernelSet::Baseline, KernelSet::AVX2, KernelSet::AVX512})
        if (const SampleKernels* kernels = KernelsOf(set))
            sets.emplace_back(static_cast<int>(set), kernels);
    ASSERT_FALSE(sets.empty());
    sets.emplace_back(-1, &kPicked);

    // Every length up to a few vector blocks with every tail, then some long ones.
    std::vector<std::uint64_t> lengths;
    for (std::uint64_t n = 0; n <= 200; ++n)
        lengths.push_back(n);
    for (std::uint64_t n : {255, 256, 257, 511, 1023, 1024, 1025, 2049, 4099})
        lengths.push_back(n);

    for (const KernelRow& row : kRows) {
        for (std::uint32_t channels = 1; channels <= 8; ++channels) {
            if (row.Mix ? channels < 2 : channels > 1)
                continue;
            const std::uint64_t inItem = row.Mix ? row.Width * channels : row.InItem;
            std::uint32_t seed = channels * 977;
            for (std::size_t l = 0; l < lengths.size(); ++l) {
                const std::uint64_t items = lengths[l];
                const Bytes input = Samples(row, items * inItem / row.Width, ++seed);
                Bytes expected(items * row.OutItem + 64, 0xA5);
                RunKernel(*plain, row, channels, input.data(), expected.data(), items);
                ASSERT_TRUE(std::all_of(expected.begin() + items * row.OutItem, expected.end(),
                                        [](std::uint8_t b) { return b == 0xA5; }))
                    << "the plain loops wrote past the output: "
                    << Where(row, channels, 0, items, 0, 0);
                // Each input and output offset from 0 to 63 meets each length in turn.
                const std::uint64_t inOffset = l % 64, outOffset = (l * 29 + 7) % 64;
                Bytes in(input.size() + 64), out(expected.size() + 64);
                std::memcpy(in.data() + inOffset, input.data(), input.size());
                for (const auto& [set, kernels] : sets) {
                    std::fill(out.begin(), out.end(), 0xA5);
                    RunKernel(*kernels, row, channels, in.data() + inOffset, out.data() + outOffset,
                              items);
                    // Nothing before or after the output is touched.
                    ASSERT_TRUE(std::all_of(out.begin(), out.begin() + outOffset,
                                            [](std::uint8_t b) { return b == 0xA5; }))
                        << Where(row, channels, set, items, inOffset, outOffset);
                    ASSERT_TRUE(
                        std::equal(expected.begin(), expected.end(), out.begin() + outOffset))
                        << Where(row, channels, set, items, inOffset, outOffset);
                    // A kernel that shrinks its data also runs over its own input.
                    if (row.OutItem < inItem) {
                        Bytes shared = in;
                        RunKernel(*kernels, row, channels, shared.data() + inOffset,
                                  shared.data() + inOffset, items);
                        ASSERT_EQ(0, std::memcmp(shared.data() + inOffset, expected.data(),
                                                 items * row.OutItem))
                            << "in place: " << Where(row, channels, set, items, inOffset, inOffset);
                    }
                }
            }
        }
    }
}

// The widest set the processor runs; under emulation of an older one, the set named for it.
TEST(SampleKernels, PickIsTheWidestSetTheProcessorRuns) {
    const char* names[] = {"Scalar", "Baseline", "AVX2", "AVX512"};
    KernelSet widest = KernelSet::Baseline;
    for (KernelSet set : {KernelSet::AVX2, KernelSet::AVX512})
        if (KernelsOf(set))
            widest = set;
    const char* expected = std::getenv("TESSALY_EXPECTED_KERNEL_SET");
    EXPECT_STREQ(names[static_cast<int>(PickedKernelSet())],
                 expected ? expected : names[static_cast<int>(widest)]);
}

} // namespace
