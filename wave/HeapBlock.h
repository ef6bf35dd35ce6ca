// An owned, zero-filled block of bytes: sample buffers, file images and scratch blocks; or a
// file mapped in place of such a block.
#pragma once

#include "Platform.h"

#include <cstddef>
#include <cstdint>

class HeapBlock {
public:
    // A block whose every byte its maker writes before anything reads it (a file read into
    // it, an image built in it) need not be zeroed first: nobody could see the zeros.
    enum class Fill { Zeroed, Overwritten };

    HeapBlock() = default;
    // Allocates size bytes, all zero unless fill says they are all overwritten at once;
    // raises EOutOfMemory when the memory cannot be had.
    explicit HeapBlock(std::uint64_t size, Fill fill = Fill::Zeroed);
    ~HeapBlock();
    // The first size bytes of an open file, mapped read-only and private: the file's pages in
    // the page cache serve as the block, nothing is copied or zeroed. No block when the file
    // is smaller than 32 MiB or cannot be mapped. A page the file no longer covers when it is
    // touched (the file was shortened meanwhile, or its disk fails) reads as zero, and Intact()
    // turns false. Where files can shrink under a mapping, the block keeps its own handle of
    // the file, to see it shrink.
    // file is the system's handle of the open file.
    static HeapBlock MapFile(std::intptr_t file, std::uint64_t size);

    HeapBlock(HeapBlock&& other) noexcept;
    HeapBlock& operator=(HeapBlock&& other) noexcept;
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    std::uint8_t* data() { return Bytes; }
    const std::uint8_t* data() const { return Bytes; }
    std::uint64_t size() const { return Size; }
    explicit operator bool() const { return Bytes != nullptr; }
    // False once a mapped file was found shorter than the block, or is now shorter than when
    // it was mapped: a cut inside the last page gives zeros without a fault, so what was read
    // before the check may not be the file's bytes.
    bool Intact() const;
    // A mapped file is read-only.
    bool Writable() const { return Watched < 0; }
    // For a mapped file whose bytes before to have all been read, gives back the memory of the
    // pages from the one holding byte from up to the one holding byte to: they stay in the page
    // cache and read the same when touched again. Nothing for other blocks.
    void ReleaseReadPages(std::uint64_t from, std::uint64_t to);
    // For a mapped file that will be read from byte from up to byte to, asks the kernel to read
    // those bytes from the disk now, in the background. Nothing for other blocks.
    void AdviseWillNeed(std::uint64_t from, std::uint64_t to) const;
    // For a mapped file about to be read from byte from up to byte to, maps the file's pages
    // there in one call instead of one fault at a time. Pages the file no longer covers are
    // left out: reading them still finds the file cut short. Nothing for other blocks.
    void PrefaultPages(std::uint64_t from, std::uint64_t to);
    // For a mapped file, the share of it that the page cache holds, from 0 to 1; 1 for other
    // blocks.
    double CachedShare() const;
    // Whether Read can take the bytes from the file itself: a mapped file whose block keeps a
    // handle of it (where files can shrink under a mapping).
    bool ReadsThroughFile() const { return Watched >= 0 && static_cast<bool>(File); }
    // For a block that ReadsThroughFile, reads count bytes from byte from on into buffer from
    // the file, which costs less than mapping its pages in and out again. Raises EReadError
    // when the file ends before them.
    void Read(std::uint64_t from, void* buffer, std::uint64_t count) const;

    // Keeps only the length bytes from offset on, where they are: nothing is copied. Whole
    // pages of a large block that lie outside them go back to the system at once. Raises
    // std::out_of_range when the bytes do not lie inside the block.
    void Narrow(std::uint64_t offset, std::uint64_t length);

    // Whether the block may be the mapped file whose key is key: true when the file's key
    // could not be had.
    bool MapsFile(const Platform::FileKey& key) const;
    // For a mapped file, copies its bytes into a block of their own and lets the file go, so
    // that it can be replaced where a mapping keeps it in place. Nothing for other blocks.
    void LetGoOfFile();

    void reset();

private:
    void ReleasePagesOutside();

    std::uint8_t* Base = nullptr; // the allocation, as it is to be released
    std::uint64_t Capacity = 0;   // its length
    std::uint8_t* Bytes = nullptr;
    std::uint64_t Size = 0;
    bool Mapped = false;
    int Watched = -1;             // the ticket of a mapped file's range, or -1
    Platform::File File;          // a mapped file's own handle, to see it shrink
    std::uint64_t FileSize = 0;   // its size when it was mapped
    std::uint64_t FileOffset = 0; // where Bytes lie in it
    Platform::FileKey Key;        // which file is mapped
    bool Keyed = false;           // whether Key could be had
};
