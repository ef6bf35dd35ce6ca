#include "HeapBlock.h"

#include "Exception.h"

#include <cstdlib>
#include <limits>
#include <sys/mman.h>
#include <utility>

namespace {

// Blocks this large come straight from the kernel: its pages are zero already, and
// transparent huge pages cut the cost of faulting them in.
constexpr std::uint64_t kMapThreshold = 1u << 20;

std::uint8_t* MapZeroed(std::uint64_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    madvise(p, size, MADV_HUGEPAGE);
    return static_cast<std::uint8_t*>(p);
}

} // namespace

HeapBlock::HeapBlock(std::uint64_t size) : Size(size) {
    if (size > std::numeric_limits<std::size_t>::max() / 2)
        throw EOutOfMemory();
    Mapped = size >= kMapThreshold;
    // calloc(0) may return null; one byte keeps "a block of size 0" distinct from "no block".
    Bytes = Mapped ? MapZeroed(size) : static_cast<std::uint8_t*>(std::calloc(size ? size : 1, 1));
    if (!Bytes)
        throw EOutOfMemory();
}

HeapBlock::~HeapBlock() {
    reset();
}

HeapBlock::HeapBlock(HeapBlock&& other) noexcept
    : Bytes(std::exchange(other.Bytes, nullptr)), Size(std::exchange(other.Size, 0)),
      Mapped(std::exchange(other.Mapped, false)) {}

HeapBlock& HeapBlock::operator=(HeapBlock&& other) noexcept {
    if (this != &other) {
        reset();
        Bytes = std::exchange(other.Bytes, nullptr);
        Size = std::exchange(other.Size, 0);
        Mapped = std::exchange(other.Mapped, false);
    }
    return *this;
}

void HeapBlock::reset() {
    if (Bytes) {
        if (Mapped)
            munmap(Bytes, Size);
        else
            std::free(Bytes);
    }
    Bytes = nullptr;
    Size = 0;
    Mapped = false;
}
