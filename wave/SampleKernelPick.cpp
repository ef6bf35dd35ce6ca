// The sample kernels for executables that cannot pick function clones when they load (no GNU
// ifunc): SampleConversion.cpp is built once per instruction set, each in its own namespace,
// and each kernel here runs the widest build the processor supports, chosen at its first call.
#include "SampleConversion.h"

namespace {

enum class KernelSet { AVX512, AVX2, Baseline };

KernelSet SupportedSet() {
    __builtin_cpu_init(); // may run before the runtime's own initialisation does it
    if (__builtin_cpu_supports("x86-64-v4"))
        return KernelSet::AVX512;
    if (__builtin_cpu_supports("avx2"))
        return KernelSet::AVX2;
    return KernelSet::Baseline;
}

template <typename Kernel> Kernel Pick(Kernel avx512, Kernel avx2, Kernel baseline) {
    static const KernelSet supported = SupportedSet();
    switch (supported) {
    case KernelSet::AVX512:
        return avx512;
    case KernelSet::AVX2:
        return avx2;
    case KernelSet::Baseline:
        break;
    }
    return baseline;
}

} // namespace

// Declares Name in each set's namespace, with the type of the public kernel.
#define TESSALY_DECLARE_SETS(Name)                                                                 \
    namespace kernels_avx512 {                                                                     \
    decltype(::Name) Name;                                                                         \
    }                                                                                              \
    namespace kernels_avx2 {                                                                       \
    decltype(::Name) Name;                                                                         \
    }                                                                                              \
    namespace kernels_baseline {                                                                   \
    decltype(::Name) Name;                                                                         \
    }

#define TESSALY_PICKED(Name)                                                                       \
    Pick(&kernels_avx512::Name, &kernels_avx2::Name, &kernels_baseline::Name)

#define TESSALY_KERNEL(Name)                                                                       \
    TESSALY_DECLARE_SETS(Name)                                                                     \
    void Name(const std::uint8_t* in, std::uint8_t* out, std::uint64_t count) {                    \
        static const auto run = TESSALY_PICKED(Name);                                              \
        run(in, out, count);                                                                       \
    }

#define TESSALY_MIX_KERNEL(Name)                                                                   \
    TESSALY_DECLARE_SETS(Name)                                                                     \
    void Name(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,                     \
              std::uint32_t channels) {                                                            \
        static const auto run = TESSALY_PICKED(Name);                                              \
        run(in, out, frames, channels);                                                            \
    }

TESSALY_KERNEL(Convert8To16)
TESSALY_KERNEL(Convert16To8)
TESSALY_KERNEL(MonoToStereo8)
TESSALY_KERNEL(MonoToStereo16)
TESSALY_KERNEL(StereoToMono8)
TESSALY_KERNEL(StereoToMono16)
TESSALY_KERNEL(Convert24To16)
TESSALY_KERNEL(Convert24To8)
TESSALY_KERNEL(Convert32To16)
TESSALY_KERNEL(Convert32To8)
TESSALY_KERNEL(ConvertFloat32To16)
TESSALY_KERNEL(ConvertFloat32To8)
TESSALY_KERNEL(ConvertFloat64To16)
TESSALY_KERNEL(ConvertFloat64To8)
TESSALY_KERNEL(MonoToStereo24)
TESSALY_KERNEL(MonoToStereo32)
TESSALY_KERNEL(MonoToStereo64)
TESSALY_MIX_KERNEL(MixToMono8)
TESSALY_MIX_KERNEL(MixToMono16)
TESSALY_MIX_KERNEL(MixToMono24)
TESSALY_MIX_KERNEL(MixToMono32)
TESSALY_MIX_KERNEL(MixToMonoFloat32)
TESSALY_MIX_KERNEL(MixToMonoFloat64)
