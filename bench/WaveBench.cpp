// The sample kernels, the load (from memory and from a file, also with the conversion to 8-bit
// mono) and the save of a whole image, timed beside memcpy of the same number of bytes: memcpy
// is the floor any of them could reach. After the runs a second table gives each one's time as
// a multiple of memcpy's at its size, and each kernel's floor: the time of moving its bytes as
// the same multiple. Single-threaded benchmarks are compared by their processor time, which
// other work on a shared machine does not stretch.
#include "RvInternalWave.h"
#include "SampleConversion.h"
#include "Stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kernel = void (*)(const std::uint8_t*, std::uint8_t*, std::uint64_t);

constexpr std::uint64_t kMiB = 1u << 20;
constexpr std::uint64_t kImageHeaderSize = 46;

// Noise, so no kernel sees only one sample value; every page is touched before timing.
Bytes NoiseBytes(std::uint64_t count) {
    Bytes bytes(count);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void CountBytes(benchmark::State& state, std::uint64_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void Memcpy(benchmark::State& state, std::uint64_t bytes) {
    const Bytes in = NoiseBytes(bytes);
    Bytes out(bytes);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), bytes);
        benchmark::ClobberMemory();
    }
    CountBytes(state, bytes);
}

// The same copy split between the processor's cores, one thread each: the machine's memory
// bandwidth, which a long file's conversion, split the same way, can use.
void MemcpyAllCores(benchmark::State& state, std::uint64_t bytes) {
    const Bytes in = NoiseBytes(bytes);
    Bytes out(bytes);
    const std::uint64_t cores = std::max(1u, std::thread::hardware_concurrency());
    const auto copyPart = [&](std::uint64_t k) {
        const std::uint64_t from = bytes * k / cores, to = bytes * (k + 1) / cores;
        std::memcpy(out.data() + from, in.data() + from, to - from);
    };
    for (auto _ : state) {
        std::vector<std::thread> others;
        for (std::uint64_t k = 1; k < cores; ++k)
            others.emplace_back(copyPart, k);
        copyPart(0);
        for (std::thread& other : others)
            other.join();
        benchmark::ClobberMemory();
    }
    CountBytes(state, bytes);
}

// Audio-like floats in -1..1 (random bits would be NaNs, infinities and denormals), as 32- or
// 64-bit samples.
Bytes FloatNoise(std::uint64_t count, std::uint64_t width) {
    const Bytes noise = NoiseBytes(count / width * 2);
    Bytes bytes(count);
    for (std::uint64_t i = 0; i < count / width; ++i) {
        const double x = (noise[2 * i] * 256 + noise[2 * i + 1]) / 32768.0 - 1.0;
        if (width == 4) {
            const float f = static_cast<float>(x);
            std::memcpy(&bytes[4 * i], &f, 4);
        } else {
            std::memcpy(&bytes[8 * i], &x, 8);
        }
    }
    return bytes;
}

struct KernelCase {
    const char* Name;
    Kernel Run;
    std::uint64_t InBytesPerItem;
    std::uint64_t OutBytesPerItem;
    std::uint64_t FloatWidth = 0; // the input's float width; 0 for integer noise
};

// The channel kernels for more than two channels, at the usual six.
template <void (*Mix)(const std::uint8_t*, std::uint8_t*, std::uint64_t, std::uint32_t)>
void SixToMono(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    Mix(in, out, frames, 6);
}

// Two channels through the general mixing kernel (8 and 16 bit have their own).
template <void (*Mix)(const std::uint8_t*, std::uint8_t*, std::uint64_t, std::uint32_t)>
void TwoToMono(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames) {
    Mix(in, out, frames, 2);
}

const KernelCase kKernels[] = {
    {"8to16", Convert8To16, 1, 2},
    {"16to8", Convert16To8, 2, 1},
    {"mono2stereo8", MonoToStereo8, 1, 2},
    {"mono2stereo16", MonoToStereo16, 2, 4},
    {"stereo2mono8", StereoToMono8, 2, 1},
    {"stereo2mono16", StereoToMono16, 4, 2},
    {"24to16", Convert24To16, 3, 2},
    {"24to8", Convert24To8, 3, 1},
    {"32to16", Convert32To16, 4, 2},
    {"32to8", Convert32To8, 4, 1},
    {"f32to16", ConvertFloat32To16, 4, 2, 4},
    {"f32to8", ConvertFloat32To8, 4, 1, 4},
    {"f64to16", ConvertFloat64To16, 8, 2, 8},
    {"f64to8", ConvertFloat64To8, 8, 1, 8},
    {"mono2stereo24", MonoToStereo24, 3, 6},
    {"mono2stereo32", MonoToStereo32, 4, 8},
    {"mono2stereo64", MonoToStereo64, 8, 16},
    {"stereo2mono24", TwoToMono<MixToMono24>, 6, 3},
    {"stereo2mono32", TwoToMono<MixToMono32>, 8, 4},
    {"stereo2monof32", TwoToMono<MixToMonoFloat32>, 8, 4, 4},
    {"stereo2monof64", TwoToMono<MixToMonoFloat64>, 16, 8, 8},
    {"6ch2mono8", SixToMono<MixToMono8>, 6, 1},
    {"6ch2mono16", SixToMono<MixToMono16>, 12, 2},
    {"6ch2mono24", SixToMono<MixToMono24>, 18, 3},
    {"6ch2monof32", SixToMono<MixToMonoFloat32>, 24, 4, 4},
};

// What moving a kernel's bytes costs on this memory: vector loads over its whole input and
// vector stores over its whole output, ordinary stores as the kernels use, no arithmetic. Each
// step reads In lines of 64 bytes and writes Out, In:Out being the kernel's bytes in per byte
// out in lowest terms; the lines read are folded into the ones written, so that none of the
// loads can be dropped, but no step waits for another.
template <typename Vector, std::uint64_t InLines, std::uint64_t OutLines>
inline void MoveLines(const std::uint8_t* in, std::uint8_t* out, std::uint64_t steps) {
    constexpr std::uint64_t kLanes = 64 / sizeof(Vector);
    for (std::uint64_t s = 0; s < steps; ++s) {
        Vector fold[kLanes] = {};
        for (std::uint64_t k = 0; k < InLines; ++k)
            for (std::uint64_t v = 0; v < kLanes; ++v) {
                Vector x;
                std::memcpy(&x, in + 64 * (InLines * s + k) + sizeof(Vector) * v, sizeof x);
                fold[v] ^= x;
            }
        for (std::uint64_t k = 0; k < OutLines; ++k)
            std::memcpy(out + 64 * (OutLines * s + k), fold, 64);
    }
}

// The shapes the kernels have, each unrolled.
template <typename Vector>
inline bool MoveShape(const std::uint8_t* in, std::uint8_t* out, std::uint64_t steps,
                      std::uint64_t inLines, std::uint64_t outLines) {
    switch (inLines * 16 + outLines) {
#define TESSALY_SHAPE(In, Out)                                                                     \
    case In * 16 + Out:                                                                            \
        MoveLines<Vector, In, Out>(in, out, steps);                                                \
        return true;
        TESSALY_SHAPE(1, 2)
        TESSALY_SHAPE(2, 1)
        TESSALY_SHAPE(3, 2)
        TESSALY_SHAPE(3, 1)
        TESSALY_SHAPE(4, 1)
        TESSALY_SHAPE(6, 1)
        TESSALY_SHAPE(8, 1)
#undef TESSALY_SHAPE
    }
    return false;
}

using Vector512 = long long __attribute__((vector_size(64)));
using Vector256 = long long __attribute__((vector_size(32)));
using Vector128 = long long __attribute__((vector_size(16)));
using MoveKernel = bool (*)(const std::uint8_t*, std::uint8_t*, std::uint64_t, std::uint64_t,
                            std::uint64_t);

#if defined(__x86_64__) || defined(_M_X64)
__attribute__((target("avx512f"))) bool MoveShape512(const std::uint8_t* in, std::uint8_t* out,
                                                     std::uint64_t steps, std::uint64_t inLines,
                                                     std::uint64_t outLines) {
    return MoveShape<Vector512>(in, out, steps, inLines, outLines);
}

__attribute__((target("avx2"))) bool MoveShape256(const std::uint8_t* in, std::uint8_t* out,
                                                  std::uint64_t steps, std::uint64_t inLines,
                                                  std::uint64_t outLines) {
    return MoveShape<Vector256>(in, out, steps, inLines, outLines);
}
#endif

bool MoveShape128(const std::uint8_t* in, std::uint8_t* out, std::uint64_t steps,
                  std::uint64_t inLines, std::uint64_t outLines) {
    return MoveShape<Vector128>(in, out, steps, inLines, outLines);
}

// The widest vectors the processor has, as the widest kernel set uses.
MoveKernel WidestMove() {
#if defined(__x86_64__) || defined(_M_X64)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return MoveShape512;
    if (__builtin_cpu_supports("avx2"))
        return MoveShape256;
#endif
    return MoveShape128;
}

// A kernel's shape: its bytes in per byte out in lowest terms.
std::pair<std::uint64_t, std::uint64_t> ShapeOf(const KernelCase& kernel) {
    std::uint64_t a = kernel.InBytesPerItem, b = kernel.OutBytesPerItem;
    while (b) {
        a %= b;
        std::swap(a, b);
    }
    return {kernel.InBytesPerItem / a, kernel.OutBytesPerItem / a};
}

// "probe3to2"
std::string ProbeName(const KernelCase& kernel) {
    const auto [in, out] = ShapeOf(kernel);
    return "probe" + std::to_string(in) + "to" + std::to_string(out);
}

void MoveOnly(benchmark::State& state, std::uint64_t inLines, std::uint64_t outLines,
              std::uint64_t outBytes) {
    const std::uint64_t steps = outBytes / (64 * outLines);
    const Bytes in = NoiseBytes(steps * 64 * inLines);
    Bytes out(outBytes);
    const MoveKernel move = WidestMove();
    for (auto _ : state) {
        if (!move(in.data(), out.data(), steps, inLines, outLines))
            return state.SkipWithError("no probe of this shape");
        benchmark::ClobberMemory();
    }
    CountBytes(state, outBytes);
}

// Times the kernel producing outBytes into a block made ready beforehand.
void RunKernel(benchmark::State& state, const KernelCase& kernel, std::uint64_t outBytes) {
    const std::uint64_t items = outBytes / kernel.OutBytesPerItem;
    const std::uint64_t inBytes = items * kernel.InBytesPerItem;
    const Bytes in =
        kernel.FloatWidth ? FloatNoise(inBytes, kernel.FloatWidth) : NoiseBytes(inBytes);
    Bytes out(outBytes);
    for (auto _ : state) {
        kernel.Run(in.data(), out.data(), items);
        benchmark::ClobberMemory();
    }
    CountBytes(state, outBytes);
}

// A stream into a block made ready beforehand, as a write lands in the page cache.
class TBufferStream : public TStream {
public:
    explicit TBufferStream(std::uint64_t capacity) : Buffer(capacity) {}
    std::uint64_t Read(void*, std::uint64_t) override { return 0; }
    std::uint64_t Write(const void* buffer, std::uint64_t count) override {
        const std::uint64_t n = std::min<std::uint64_t>(count, Buffer.size() - Position);
        std::memcpy(Buffer.data() + Position, buffer, n);
        Position += n;
        return n;
    }
    std::uint64_t Size() const override { return Buffer.size(); }

    Bytes& bytes() { return Buffer; }
    std::uint64_t Position = 0;

private:
    Bytes Buffer;
};

// A 16-bit stereo wave of noise whose image is exactly imageBytes long.
void FillWave(TRvInternalWAVE& wave, std::uint64_t imageBytes) {
    wave.CreateWAVE(44100, 16, 2, 1);
    const std::uint64_t n = imageBytes - kImageHeaderSize;
    const Bytes samples = NoiseBytes(n);
    wave.WaveData = HeapBlock(n);
    std::memcpy(wave.WaveData.data(), samples.data(), n);
}

// Reading a whole image from memory: the copy into the image block, the parse and the samples.
void Load(benchmark::State& state, std::uint64_t imageBytes) {
    TRvInternalWAVE source;
    FillWave(source, imageBytes);
    TBufferStream image(imageBytes);
    source.SaveToFile(image);
    TMemoryStream stream(std::move(image.bytes()));
    TRvInternalWAVE wave;
    for (auto _ : state) {
        stream.Position = 0;
        wave.LoadFromFile(stream);
        benchmark::DoNotOptimize(wave.WaveData.data());
    }
    CountBytes(state, imageBytes);
}

// A 16-bit stereo wave file of noise in the page cache, removed at the end.
class WaveFile {
public:
    explicit WaveFile(std::uint64_t imageBytes)
        : Path("/tmp/tessaly-bench-load-" + std::to_string(getpid()) + ".wav") {
        TRvInternalWAVE source;
        FillWave(source, imageBytes);
        TFileReplaceStream file(Path);
        source.SaveToFile(file);
        file.Commit();
    }
    ~WaveFile() { std::remove(Path.c_str()); }
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;

    const std::string Path;
};

// Loading the image from a file in the page cache, as tessaly-convert does: read into a block
// below 32 MiB, mapped from there on; with toMono8, then turning its 16-bit stereo into 8-bit
// mono in one pass, as tessaly-convert does before the save.
void LoadFile(benchmark::State& state, std::uint64_t imageBytes, bool toMono8) {
    const WaveFile file(imageBytes);
    TRvInternalWAVE wave;
    for (auto _ : state) {
        TFileStream stream(file.Path);
        wave.LoadFromFile(stream);
        if (toMono8) {
            const TRvInternalWAVE::SampleChange bits =
                TRvInternalWAVE::PlanBits(wave.CurrentShape(), 8);
            wave.Apply(bits, TRvInternalWAVE::PlanChannels(bits.After, 1));
        }
        benchmark::DoNotOptimize(wave.WaveData.data());
    }
    CountBytes(state, imageBytes);
}

// Building the whole image in memory and handing it over in one write.
void Save(benchmark::State& state, std::uint64_t imageBytes) {
    TRvInternalWAVE wave;
    FillWave(wave, imageBytes);
    TBufferStream sink(imageBytes);
    for (auto _ : state) {
        sink.Position = 0;
        wave.SaveToFile(sink);
        benchmark::ClobberMemory();
    }
    CountBytes(state, imageBytes);
}

// "what/256MiB"
std::string Name(const char* what, std::uint64_t bytes) {
    std::string name(what);
    name.append("/").append(std::to_string(bytes / kMiB)).append("MiB");
    return name;
}

void RegisterAll() {
    for (std::uint64_t bytes : {kMiB, 256 * kMiB}) {
        benchmark::RegisterBenchmark(Name("memcpy", bytes).c_str(), Memcpy, bytes);
        benchmark::RegisterBenchmark(Name("memcpy-allcores", bytes).c_str(), MemcpyAllCores, bytes)
            ->UseRealTime();
        std::set<std::string> probes;
        for (const KernelCase& kernel : kKernels)
            if (probes.insert(ProbeName(kernel)).second)
                benchmark::RegisterBenchmark(Name(ProbeName(kernel).c_str(), bytes).c_str(),
                                             MoveOnly, ShapeOf(kernel).first,
                                             ShapeOf(kernel).second, bytes);
        for (const KernelCase& kernel : kKernels)
            benchmark::RegisterBenchmark(Name(kernel.Name, bytes).c_str(), RunKernel, kernel,
                                         bytes);
        benchmark::RegisterBenchmark(Name("load", bytes).c_str(), Load, bytes);
        benchmark::RegisterBenchmark(Name("loadfile", bytes).c_str(), LoadFile, bytes, false);
        benchmark::RegisterBenchmark(Name("loadfile2mono8", bytes).c_str(), LoadFile, bytes, true);
        benchmark::RegisterBenchmark(Name("save", bytes).c_str(), Save, bytes);
    }
}

// The console table, then each benchmark's time over memcpy's at the same size (medians when
// the runs are repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            Keep(run);
    }

    // A kernel's floor is what moving its bytes costs: it reads and writes (in + out) bytes
    // where memcpy of its output moves 2 x out.
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-22s %10s  %8s  %5s  %7s  %s\n", "benchmark", "time", "x memcpy", "floor",
                    "x floor", "x probe");
        for (const auto& [name, time] : Times) {
            const auto memcpyTime = Times.find("memcpy/" + SizeOf(name));
            if (memcpyTime == Times.end())
                continue;
            const double ratio = time / memcpyTime->second;
            std::printf("%-22s %8.3fms  %8.2f", name.c_str(), time / 1e6, ratio);
            for (const KernelCase& kernel : kKernels)
                if (name == Name(kernel.Name, SizeBytes(name))) {
                    const double floor = double(kernel.InBytesPerItem + kernel.OutBytesPerItem) /
                                         (2.0 * kernel.OutBytesPerItem);
                    std::printf("  %5.2f  %7.2f", floor, ratio / floor);
                    const auto probe = Times.find(Name(ProbeName(kernel).c_str(), SizeBytes(name)));
                    if (probe != Times.end())
                        std::printf("  %.2f", time / probe->second);
                }
            std::printf("\n");
        }
    }

private:
    static std::string SizeOf(const std::string& name) { return name.substr(name.find('/') + 1); }
    static std::uint64_t SizeBytes(const std::string& name) {
        return std::stoull(SizeOf(name)) * kMiB;
    }

    void Keep(const Run& run) {
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type == Run::RT_Iteration || median)
            Times[run.run_name.function_name] =
                (run.run_name.time_type.empty() ? run.GetAdjustedCPUTime()
                                                : run.GetAdjustedRealTime()) *
                (run.time_unit == benchmark::kMillisecond ? 1e6 : 1);
    }

    std::map<std::string, double> Times; // nanoseconds, the median overriding single runs
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RegisterAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
