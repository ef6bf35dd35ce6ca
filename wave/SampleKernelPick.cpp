// The kernel files (kernels/) are built once per instruction set, each set in its own
// namespace; the public kernels run the widest build the processor supports, chosen at the first
// call. The choice is made then, not by the loader, so that it runs after a sanitizer's runtime
// has started.
#include "SampleConversion.h"
#include "SampleKernelSets.h"

#include <initializer_list>

#define TESSALY_DECLARE_KERNEL(Name) decltype(::Name) Name;
#define TESSALY_TABLE_ENTRY(Name) &Name,

#define TESSALY_KERNEL_TABLE(Set)                                                                  \
    namespace Set {                                                                                \
    TESSALY_SAMPLE_KERNELS(TESSALY_DECLARE_KERNEL, TESSALY_DECLARE_KERNEL)                         \
    constexpr SampleKernels kTable{                                                                \
        TESSALY_SAMPLE_KERNELS(TESSALY_TABLE_ENTRY, TESSALY_TABLE_ENTRY)};                         \
    }

TESSALY_KERNEL_TABLE(kernels_scalar)
TESSALY_KERNEL_TABLE(kernels_baseline)
#ifdef TESSALY_KERNEL_X86
TESSALY_KERNEL_TABLE(kernels_avx2)
TESSALY_KERNEL_TABLE(kernels_avx512)
#endif

const SampleKernels* KernelsOf(KernelSet set) {
    switch (set) {
    case KernelSet::Scalar:
        return &kernels_scalar::kTable;
    case KernelSet::Baseline:
        return &kernels_baseline::kTable;
#ifdef TESSALY_KERNEL_X86
    case KernelSet::AVX2:
        __builtin_cpu_init(); // may run before the runtime's own initialisation does it
        return __builtin_cpu_supports("avx2") ? &kernels_avx2::kTable : nullptr;
    case KernelSet::AVX512:
        // What -march=x86-64-v4 lets the compiler use.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                       __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
                       __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2") &&
                       __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma")
                   ? &kernels_avx512::kTable
                   : nullptr;
#else
    case KernelSet::AVX2:
    case KernelSet::AVX512:
        break;
#endif
    }
    return nullptr;
}

namespace {

struct Picked {
    KernelSet Set;
    const SampleKernels* Kernels;
};

Picked Widest() {
    for (KernelSet set : {KernelSet::AVX512, KernelSet::AVX2})
        if (const SampleKernels* kernels = KernelsOf(set))
            return {set, kernels};
    return {KernelSet::Baseline, KernelsOf(KernelSet::Baseline)};
}

const Picked& Pick() {
    static const Picked picked = Widest();
    return picked;
}

} // namespace

KernelSet PickedKernelSet() {
    return Pick().Set;
}

#define TESSALY_PICKED_KERNEL(Name)                                                                \
    void Name(const std::uint8_t* in, std::uint8_t* out, std::uint64_t count) {                    \
        Pick().Kernels->Name(in, out, count);                                                      \
    }

#define TESSALY_PICKED_MIX_KERNEL(Name)                                                            \
    void Name(const std::uint8_t* in, std::uint8_t* out, std::uint64_t frames,                     \
              std::uint32_t channels) {                                                            \
        Pick().Kernels->Name(in, out, frames, channels);                                           \
    }

TESSALY_SAMPLE_KERNELS(TESSALY_PICKED_KERNEL, TESSALY_PICKED_MIX_KERNEL)
