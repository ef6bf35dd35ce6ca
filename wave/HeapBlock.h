// An owned, zero-filled block of bytes: sample buffers, file images and scratch blocks.
#pragma once

#include <cstddef>
#include <cstdint>

class HeapBlock {
public:
    HeapBlock() = default;
    // Allocates size bytes, all zero; raises EOutOfMemory when the memory cannot be had.
    explicit HeapBlock(std::uint64_t size);
    ~HeapBlock();

    HeapBlock(HeapBlock&& other) noexcept;
    HeapBlock& operator=(HeapBlock&& other) noexcept;
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    std::uint8_t* data() { return Bytes; }
    const std::uint8_t* data() const { return Bytes; }
    std::uint64_t size() const { return Size; }
    explicit operator bool() const { return Bytes != nullptr; }

    void reset();

private:
    std::uint8_t* Bytes = nullptr;
    std::uint64_t Size = 0;
    bool Mapped = false;
};
