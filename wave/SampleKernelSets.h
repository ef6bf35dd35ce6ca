// Every build of the sample kernels, one per instruction set, as tables of the same kernels:
// the public kernels of SampleConversion.h run the widest set the processor has.
#pragma once

#include <cstdint>

// X(Name) for each kernel taking (in, out, count), M(Name) for each taking a channel count too.
#define TESSALY_SAMPLE_KERNELS(X, M)                                                               \
    X(Convert8To16)                                                                                \
    X(Convert16To8)                                                                                \
    X(MonoToStereo8)                                                                               \
    X(MonoToStereo16)                                                                              \
    X(StereoToMono8)                                                                               \
    X(StereoToMono16)                                                                              \
    X(Convert24To16)                                                                               \
    X(Convert24To8)                                                                                \
    X(Convert32To16)                                                                               \
    X(Convert32To8)                                                                                \
    X(ConvertFloat32To16)                                                                          \
    X(ConvertFloat32To8)                                                                           \
    X(ConvertFloat64To16)                                                                          \
    X(ConvertFloat64To8)                                                                           \
    X(MonoToStereo24)                                                                              \
    X(MonoToStereo32)                                                                              \
    X(MonoToStereo64)                                                                              \
    M(MixToMono8)                                                                                  \
    M(MixToMono16)                                                                                 \
    M(MixToMono24)                                                                                 \
    M(MixToMono32)                                                                                 \
    M(MixToMonoFloat32)                                                                            \
    M(MixToMonoFloat64)

// From the plain loops (the reference every other set matches byte for byte) to the widest.
enum class KernelSet { Scalar, Baseline, AVX2, AVX512 };

struct SampleKernels {
    using Kernel = void (*)(const std::uint8_t* in, std::uint8_t* out, std::uint64_t count);
    using MixKernel = void (*)(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,
                               std::uint32_t channels);
#define TESSALY_KERNEL_FIELD(Name) Kernel Name;
#define TESSALY_MIX_KERNEL_FIELD(Name) MixKernel Name;
    TESSALY_SAMPLE_KERNELS(TESSALY_KERNEL_FIELD, TESSALY_MIX_KERNEL_FIELD)
#undef TESSALY_KERNEL_FIELD
#undef TESSALY_MIX_KERNEL_FIELD
};

// The set's kernels, or null where this processor cannot run it or the build has none.
const SampleKernels* KernelsOf(KernelSet set);

// The set the public kernels run.
KernelSet PickedKernelSet();
