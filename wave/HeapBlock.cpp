#include "HeapBlock.h"

#include "Exception.h"
#include "MappedFileGuard.h"
#include "Stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

// Smaller blocks come from the C heap, which hands freed memory out again with its pages in
// place: far cheaper than faulting in fresh zero pages, file after file. Larger ones, which
// the heap would map afresh anyway (its own limit is 32 MiB), come straight from the system,
// zero already.
constexpr std::uint64_t kMapThreshold = 32u << 20;

std::uint8_t* PageDown(std::uint8_t* p) {
    return reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(p) &
                                           ~(Platform::PageSize() - 1));
}

std::uint8_t* PageUp(std::uint8_t* p) {
    return PageDown(p + Platform::PageSize() - 1);
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
    Base = Mapped ? Platform::AllocatePages(size) : HeapAllocate(size, fill);
    if (!Base)
        throw EOutOfMemory();
    Bytes = Base;
}

HeapBlock::~HeapBlock() {
    reset();
}

HeapBlock HeapBlock::MapFile(std::intptr_t file, std::uint64_t size) {
    // A smaller file costs less to read into a heap block, whose pages the heap hands out
    // again, than to map and unmap.
    HeapBlock block;
    if (size < kMapThreshold || size > std::numeric_limits<std::size_t>::max() / 2)
        return block;
    std::uint8_t* bytes = Platform::MapFile(file, size);
    if (!bytes)
        return block;
    const auto pages = static_cast<std::uint64_t>(PageUp(bytes + size) - bytes);
    const int ticket =
        Platform::WatchShrinking(file, block.File) ? MappedFileGuard::Watch(bytes, pages) : -1;
    if (ticket < 0) {
        block.File.Close();
        Platform::FreePages(bytes, pages);
        return block;
    }
    block.Base = block.Bytes = bytes;
    block.Capacity = block.Size = block.FileSize = size;
    block.Mapped = true;
    block.Watched = ticket;
    block.Keyed = Platform::KeyOf(file, block.Key);
    return block;
}

bool HeapBlock::Intact() const {
    return Watched < 0 ||
           (!MappedFileGuard::WasCut(Watched) && Platform::StillCovers(File, FileSize));
}

void HeapBlock::AdviseWillNeed(std::uint64_t from, std::uint64_t to) const {
    std::uint8_t* first = PageDown(Bytes + std::min(from, Size));
    std::uint8_t* end = PageUp(Bytes + std::min(to, Size));
    if (Watched >= 0 && end > first)
        Platform::AdviseWillNeed(first, static_cast<std::uint64_t>(end - first));
}

double HeapBlock::CachedShare() const {
    std::uint8_t* first = PageDown(Bytes);
    std::uint8_t* end = PageUp(Bytes + Size);
    if (Watched < 0 || end <= first)
        return 1;
    return Platform::CachedShare(first, static_cast<std::uint64_t>(end - first));
}

void HeapBlock::PrefaultPages(std::uint64_t from, std::uint64_t to) {
    std::uint8_t* first = PageDown(Bytes + std::min(from, Size));
    std::uint8_t* end = PageUp(Bytes + std::min(to, Size));
    if (Watched >= 0 && end > first)
        Platform::PrefaultPages(first, static_cast<std::uint64_t>(end - first));
}

void HeapBlock::Read(std::uint64_t from, void* buffer, std::uint64_t count) const {
    if (from > Size || count > Size - from || !ReadsThroughFile())
        throw std::out_of_range("HeapBlock::Read: no file holds the range");
    if (!ReadFullyAt(File, FileOffset + from, buffer, count))
        throw EReadError();
}

void HeapBlock::ReleaseReadPages(std::uint64_t from, std::uint64_t to) {
    std::uint8_t* first = std::max(PageDown(Bytes + std::min(from, Size)), Base);
    std::uint8_t* end = PageDown(Bytes + std::min(to, Size));
    if (Watched >= 0 && end > first)
        Platform::DiscardPages(first, static_cast<std::uint64_t>(end - first));
}

HeapBlock::HeapBlock(HeapBlock&& other) noexcept
    : Base(std::exchange(other.Base, nullptr)), Capacity(std::exchange(other.Capacity, 0)),
      Bytes(std::exchange(other.Bytes, nullptr)), Size(std::exchange(other.Size, 0)),
      Mapped(std::exchange(other.Mapped, false)), Watched(std::exchange(other.Watched, -1)),
      File(std::move(other.File)), FileSize(std::exchange(other.FileSize, 0)),
      FileOffset(std::exchange(other.FileOffset, 0)), Key(other.Key),
      Keyed(std::exchange(other.Keyed, false)) {}

HeapBlock& HeapBlock::operator=(HeapBlock&& other) noexcept {
    if (this != &other) {
        reset();
        Base = std::exchange(other.Base, nullptr);
        Capacity = std::exchange(other.Capacity, 0);
        Bytes = std::exchange(other.Bytes, nullptr);
        Size = std::exchange(other.Size, 0);
        Mapped = std::exchange(other.Mapped, false);
        Watched = std::exchange(other.Watched, -1);
        File = std::move(other.File);
        FileSize = std::exchange(other.FileSize, 0);
        FileOffset = std::exchange(other.FileOffset, 0);
        Key = other.Key;
        Keyed = std::exchange(other.Keyed, false);
    }
    return *this;
}

void HeapBlock::Narrow(std::uint64_t offset, std::uint64_t length) {
    if (offset > Size || length > Size - offset)
        throw std::out_of_range("HeapBlock::Narrow: range outside the block");
    Bytes += offset;
    FileOffset += offset;
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
        Platform::ReleasePages(Base, static_cast<std::uint64_t>(first - Base));
    if (end > last)
        Platform::ReleasePages(last, static_cast<std::uint64_t>(end - last));
    Base = first;
    Capacity = static_cast<std::uint64_t>(last - first);
}

bool HeapBlock::MapsFile(const Platform::FileKey& key) const {
    return Watched >= 0 && (!Keyed || Key == key);
}

void HeapBlock::LetGoOfFile() {
    if (Watched < 0)
        return;
    HeapBlock copy(Size, Fill::Overwritten);
    std::memcpy(copy.data(), Bytes, Size);
    *this = std::move(copy);
}

void HeapBlock::reset() {
    if (Watched >= 0)
        MappedFileGuard::Forget(std::exchange(Watched, -1));
    File.Close();
    if (Base) {
        if (Mapped)
            Platform::FreePages(Base, Capacity);
        else
            std::free(Base);
    }
    Base = Bytes = nullptr;
    Capacity = Size = FileOffset = 0;
    Mapped = false;
    Keyed = false;
}
