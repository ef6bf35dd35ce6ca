#include "RiffFile.h"

#include "LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint64_t kHeaderSize = 8;
constexpr std::uint64_t kFormTypeSize = 4;
constexpr std::uint64_t kMaxChunkSize = 0xFFFFFFFFu;
} // namespace

bool FitsInRiff(std::uint64_t dataSize, std::uint64_t headerBytes) {
    return dataSize <= kMaxChunkSize && headerBytes + dataSize + (dataSize & 1) <= kMaxChunkSize;
}

TRiffMemoryFile::TRiffMemoryFile(std::uint8_t* image, std::uint64_t length)
    : Image(image), Length(length) {}

bool TRiffMemoryFile::ReadHeader(std::uint64_t offset, std::uint64_t end, TRiffChunk& chunk) const {
    if (offset >= end || end - offset < kHeaderSize)
        return false;
    chunk.Id = GetLE32(Image + offset);
    chunk.Size = GetLE32(Image + offset + 4);
    chunk.DataOffset = offset + kHeaderSize;
    chunk.Writing = false;
    return true;
}

bool TRiffMemoryFile::FindRiffForm(std::uint32_t formType, TRiffChunk& found) {
    TRiffChunk chunk;
    for (std::uint64_t offset = Position; ReadHeader(offset, Length, chunk);
         offset = chunk.DataOffset + PaddedSize(chunk.Size)) {
        bool hasFormType = Length - chunk.DataOffset >= kFormTypeSize;
        if (chunk.Id == FourCC("RIFF") && hasFormType &&
            GetLE32(Image + chunk.DataOffset) == formType) {
            found = chunk;
            Position = chunk.DataOffset + kFormTypeSize;
            return true;
        }
    }
    return false;
}

bool TRiffMemoryFile::FindChunk(std::uint32_t id, const TRiffChunk& parent, TRiffChunk& found) {
    const std::uint64_t end = std::min(parent.DataOffset + parent.Size, Length);
    TRiffChunk chunk;
    for (std::uint64_t offset = Position; ReadHeader(offset, end, chunk);
         offset = chunk.DataOffset + PaddedSize(chunk.Size)) {
        if (chunk.Id == id) {
            found = chunk;
            Position = chunk.DataOffset;
            return true;
        }
    }
    return false;
}

std::uint64_t TRiffMemoryFile::Read(void* buffer, std::uint64_t count) {
    std::uint64_t n = std::min(count, BytesLeft());
    if (n != 0)
        std::memcpy(buffer, Image + Position, n);
    Position += n;
    return n;
}

bool TRiffMemoryFile::Ascend(TRiffChunk& chunk) {
    if (chunk.Writing) {
        if (Position < chunk.DataOffset || Position - chunk.DataOffset > kMaxChunkSize)
            return false;
        std::uint64_t written = Position - chunk.DataOffset;
        if (written != chunk.Size) {
            chunk.Size = written;
            PutLE32(Image + chunk.DataOffset - 4, static_cast<std::uint32_t>(written));
        }
        const std::uint8_t pad = 0;
        if ((written & 1) && !Write(&pad, 1))
            return false;
        chunk.Writing = false;
    }
    Position = chunk.DataOffset + PaddedSize(chunk.Size);
    return true;
}

bool TRiffMemoryFile::CreateChunk(std::uint32_t id, std::uint32_t size, TRiffChunk& created) {
    if (BytesLeft() < kHeaderSize)
        return false;
    PutLE32(Image + Position, id);
    PutLE32(Image + Position + 4, size);
    created = TRiffChunk{id, size, Position + kHeaderSize, true};
    Position += kHeaderSize;
    return true;
}

bool TRiffMemoryFile::CreateRiffChunk(std::uint32_t formType, TRiffChunk& created) {
    if (BytesLeft() < kHeaderSize + kFormTypeSize || !CreateChunk(FourCC("RIFF"), 0, created))
        return false;
    PutLE32(Image + Position, formType);
    Position += kFormTypeSize;
    return true;
}

bool TRiffMemoryFile::Write(const void* buffer, std::uint64_t count) {
    if (count > BytesLeft())
        return false;
    if (count != 0)
        std::memcpy(Image + Position, buffer, count);
    Position += count;
    return true;
}
