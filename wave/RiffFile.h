// RIFF chunk navigation over a file image held in memory.
#pragma once

#include <cstdint>

// One chunk entered by a find or a create.
struct TRiffChunk {
    std::uint32_t Id = 0;
    std::uint64_t Size = 0;       // data bytes, as the header gives or as created
    std::uint64_t DataOffset = 0; // for "RIFF", the offset of the form type
    bool Writing = false;         // its size is to be fixed when it is left
};

// Whether a wave image of dataSize sample bytes still has a RIFF size that fits its field:
// headerBytes + N + pad, headerBytes being the RIFF chunk's bytes other than the samples.
bool FitsInRiff(std::uint64_t dataSize, std::uint64_t headerBytes);

// Reads or writes chunks inside a caller-owned block of fixed length. Sizes and offsets are
// 64-bit, so no size from a file can wrap an offset and every search ends.
class TRiffMemoryFile {
public:
    TRiffMemoryFile(std::uint8_t* image, std::uint64_t length);

    void Seek(std::uint64_t position) { Position = position; }
    std::uint64_t BytesLeft() const { return Position < Length ? Length - Position : 0; }

    // Finds the first top-level "RIFF" chunk of the form type from the position on.
    bool FindRiffForm(std::uint32_t formType, TRiffChunk& found);
    // Finds a chunk inside parent from the position on.
    bool FindChunk(std::uint32_t id, const TRiffChunk& parent, TRiffChunk& found);
    // Copies up to count bytes from the position and returns how many it copied.
    std::uint64_t Read(void* buffer, std::uint64_t count);
    // Moves past the chunk; for a chunk being written, fixes its size and pads it first.
    bool Ascend(TRiffChunk& chunk);

    bool CreateRiffChunk(std::uint32_t formType, TRiffChunk& created);
    bool CreateChunk(std::uint32_t id, std::uint32_t size, TRiffChunk& created);
    // Copies count bytes to the position; false when the block has no room for them.
    bool Write(const void* buffer, std::uint64_t count);

private:
    static std::uint64_t PaddedSize(std::uint64_t size) { return size + (size & 1); }
    bool ReadHeader(std::uint64_t offset, std::uint64_t end, TRiffChunk& chunk) const;

    std::uint8_t* Image;
    std::uint64_t Length;
    std::uint64_t Position = 0;
};
