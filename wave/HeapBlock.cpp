#include "HeapBlock.h"

#include "Exception.h"
#include "MappedFileGuard.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Smaller blocks come from the C heap, which hands freed memory out again with its pages in
// place: far cheaper than faulting in fresh zero pages, file after file. Larger ones, which
// the heap would map afresh anyway (its own limit is 32 MiB), come straight from the kernel,
// zero already, as transparent huge pages that cut the cost of faulting them in.
constexpr std::uint64_t kMapThreshold = 32u << 20;

std::uint8_t* MapZeroed(std::uint64_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    madvise(p, size, MADV_HUGEPAGE);
    return static_cast<std::uint8_t*>(p);
}

std::uintptr_t PageSize() {
    return static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
}

std::uint8_t* PageDown(std::uint8_t* p) {
    return reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(p) & ~(PageSize() - 1));
}

std::uint8_t* PageUp(std::uint8_t* p) {
    return PageDown(p + PageSize() - 1);
}

std::uint8_t* HeapAllocate(std::uint64_t size, HeapBlock::Fill fill) {
    // calloc(0) may return null; one byte keeps "a block of size 0" distinct from "no block".
    const std::size_t bytes = size ? size : 1;
    void* p = fill == HeapBlock::Fill::Zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    return static_cast<std::uint8_t*>(p);
}

} // namespace

HeapBlock::HeapBlock(std::uint64_t size, Fill fill) : Capacity(size), Size(size) {
    if (size > std::numeric_limits<std::size_t>::max() / 2)
        throw EOutOfMemory();
    Mapped = size >= kMapThreshold;
    Base = Mapped ? MapZeroed(size) : HeapAllocate(size, fill);
    if (!Base)
        throw EOutOfMemory();
    Bytes = Base;
}

HeapBlock::~HeapBlock() {
    reset();
}

HeapBlock HeapBlock::MapFile(int fd, std::uint64_t size) {
    // A smaller file costs less to read into a heap block, whose pages the heap hands out
    // again, than to map and unmap.
    HeapBlock block;
    if (size < kMapThreshold || size > std::numeric_limits<std::size_t>::max() / 2)
        return block;
    // Not populated up front: pages come in as the samples are read and go again behind a
    // conversion (ReleaseReadPages), so the whole file is never resident at once.
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED)
        return block;
    auto* bytes = static_cast<std::uint8_t*>(p);
    const int file = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    const auto pages = static_cast<std::uint64_t>(PageUp(bytes + size) - bytes);
    const int ticket = file < 0 ? -1 : MappedFileGuard::Watch(bytes, pages);
    if (ticket < 0) {
        if (file >= 0)
            close(file);
        munmap(p, size);
        return block;
    }
    block.Base = block.Bytes = bytes;
    block.Capacity = block.Size = block.FileSize = size;
    block.Mapped = true;
    block.Watched = ticket;
    block.File = file;
    return block;
}

bool HeapBlock::Intact() const {
    if (Watched < 0)
        return true;
    struct stat st {};
    return !MappedFileGuard::WasCut(Watched) && fstat(File, &st) == 0 &&
           static_cast<std::uint64_t>(st.st_size) >= FileSize;
}

void HeapBlock::AdviseWillNeed(std::uint64_t from, std::uint64_t to) const {
    // The kernel reads no more than its read-ahead window for one advice (a few MiB, on some
    // disks 128 KiB), so the range is advised a step at a time. A step whose last page the
    // page cache holds is taken as there: advising it would look up each of its pages again.
    constexpr std::uint64_t kStep = std::uint64_t{1} << 20;
    if (Watched < 0)
        return;
    std::uint8_t* const end = PageUp(Bytes + std::min(to, Size));
    for (std::uint8_t* at = PageDown(Bytes + std::min(from, Size)); at < end; at += kStep) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, end - at));
        unsigned char resident = 0;
        if (mincore(at + length - PageSize(), PageSize(), &resident) != 0 || !(resident & 1))
            madvise(at, length, MADV_WILLNEED);
    }
}

void HeapBlock::PrefaultPages(std::uint64_t from, std::uint64_t to) {
    std::uint8_t* first = PageDown(Bytes + std::min(from, Size));
    std::uint8_t* end = PageUp(Bytes + std::min(to, Size));
    if (Watched >= 0 && end > first)
        madvise(first, static_cast<std::size_t>(end - first), MADV_POPULATE_READ);
}

void HeapBlock::ReleaseReadPages(std::uint64_t from, std::uint64_t to) {
    std::uint8_t* first = std::max(PageDown(Bytes + std::min(from, Size)), Base);
    std::uint8_t* end = PageDown(Bytes + std::min(to, Size));
    if (Watched >= 0 && end > first)
        madvise(first, static_cast<std::size_t>(end - first), MADV_DONTNEED);
}

HeapBlock::HeapBlock(HeapBlock&& other) noexcept
    : Base(std::exchange(other.Base, nullptr)), Capacity(std::exchange(other.Capacity, 0)),
      Bytes(std::exchange(other.Bytes, nullptr)), Size(std::exchange(other.Size, 0)),
      Mapped(std::exchange(other.Mapped, false)), Watched(std::exchange(other.Watched, -1)),
      File(std::exchange(other.File, -1)), FileSize(std::exchange(other.FileSize, 0)) {}

HeapBlock& HeapBlock::operator=(HeapBlock&& other) noexcept {
    if (this != &other) {
        reset();
        Base = std::exchange(other.Base, nullptr);
        Capacity = std::exchange(other.Capacity, 0);
        Bytes = std::exchange(other.Bytes, nullptr);
        Size = std::exchange(other.Size, 0);
        Mapped = std::exchange(other.Mapped, false);
        Watched = std::exchange(other.Watched, -1);
        File = std::exchange(other.File, -1);
        FileSize = std::exchange(other.FileSize, 0);
    }
    return *this;
}

void HeapBlock::Narrow(std::uint64_t offset, std::uint64_t length) {
    if (offset > Size || length > Size - offset)
        throw std::out_of_range("HeapBlock::Narrow: range outside the block");
    Bytes += offset;
    Size = length;
    if (Mapped && length != 0)
        ReleasePagesOutside();
}

// Unmaps the whole pages before and after the kept bytes; the mapping is then just the pages
// that hold them.
void HeapBlock::ReleasePagesOutside() {
    std::uint8_t* first = PageDown(Bytes);
    std::uint8_t* last = PageUp(Bytes + Size);
    std::uint8_t* end = PageUp(Base + Capacity);
    if (Watched >= 0)
        MappedFileGuard::Rewatch(Watched, first, static_cast<std::uint64_t>(last - first));
    if (first > Base)
        munmap(Base, static_cast<std::size_t>(first - Base));
    if (end > last)
        munmap(last, static_cast<std::size_t>(end - last));
    Base = first;
    Capacity = static_cast<std::uint64_t>(last - first);
}

void HeapBlock::reset() {
    if (Watched >= 0)
        MappedFileGuard::Forget(std::exchange(Watched, -1));
    if (File >= 0)
        close(std::exchange(File, -1));
    if (Base) {
        if (Mapped)
            munmap(Base, Capacity);
        else
            std::free(Base);
    }
    Base = Bytes = nullptr;
    Capacity = Size = 0;
    Mapped = false;
}
