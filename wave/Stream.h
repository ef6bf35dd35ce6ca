// Byte streams: the in-memory stream and the file streams through which waves are read and
// written, with their failures.
#pragma once

#include "Exception.h"
#include "HeapBlock.h"
#include "Platform.h"
#include "WorkMonitor.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// "file %s cannot be opened"
class EFOpenError : public EStreamError {
public:
    explicit EFOpenError(const std::string& fileName);
};

// "file %s cannot be created"
class EFCreateError : public EStreamError {
public:
    explicit EFCreateError(const std::string& fileName);
};

// "error reading from the stream"
class EReadError : public EStreamError {
public:
    EReadError();
};

// "error writing to the stream"
class EWriteError : public EStreamError {
public:
    EWriteError();
};

// A run of bytes handed to a write.
using ByteSpan = std::span<const std::uint8_t>;

// Reads count bytes at offset of file into buffer, in as many reads as that takes; false when
// the file ends before them or a read fails.
bool ReadFullyAt(const Platform::File& file, std::uint64_t offset, void* buffer,
                 std::uint64_t count);

class TStream {
public:
    virtual ~TStream() = default;

    // Copy up to count bytes and return how many were copied.
    virtual std::uint64_t Read(void* buffer, std::uint64_t count) = 0;
    virtual std::uint64_t Write(const void* buffer, std::uint64_t count) = 0;
    virtual std::uint64_t Size() const = 0;
    // Writes the pieces one after the other and returns how many bytes were written; a file
    // takes them in one call, so an image need not be copied together first.
    virtual std::uint64_t WriteGathered(std::span<const ByteSpan> pieces);
    // Every byte of the stream in one block: read into a new block, or where a file can be
    // mapped, its mapping. Raises EReadError when fewer bytes arrive than Size() promised.
    virtual HeapBlock ReadAll();

    // As Read and WriteGathered, but anything short raises EReadError or EWriteError.
    void ReadBuffer(void* buffer, std::uint64_t count);
    void WriteBuffers(std::span<const ByteSpan> pieces);

protected:
    // A new block of size bytes, filled by one ReadBuffer.
    HeapBlock ReadBlock(std::uint64_t size);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : Bytes(std::move(bytes)) {}

    std::uint64_t Read(void* buffer, std::uint64_t count) override;
    std::uint64_t Write(const void* buffer, std::uint64_t count) override;
    std::uint64_t Size() const override { return Bytes.size(); }

    const std::vector<std::uint8_t>& bytes() const { return Bytes; }
    std::uint64_t Position = 0;

private:
    std::vector<std::uint8_t> Bytes;
};

// An existing regular file opened for reading, held under an exclusive advisory lock so that
// no cooperating program uses it meanwhile. Never blocks and never creates the file. It tells
// monitor, if any, the size of the source it opened; a read counts its bytes there, and stops
// (EWorkStopped) when it is asked to.
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& fileName,
                         WorkMonitor* monitor = nullptr); // raises EFOpenError
    // Unlocks the file: a mapping made by ReadAll() keeps it open after the stream is gone.
    ~TFileStream() override;

    std::uint64_t Read(void* buffer, std::uint64_t count) override;
    std::uint64_t Write(const void* buffer, std::uint64_t count) override;
    std::uint64_t Size() const override;
    // Reads as many bytes as the file held when it was opened.
    HeapBlock ReadAll() override;

private:
    WorkMonitor* Monitor;
    std::uint64_t OpenedSize = 0;
    Platform::File Handle;
};

// Writes a file so that no failure loses data: the bytes go to a fresh temporary file in the
// destination's folder, which Commit() flushes (a step at a time when it replaces a file) and
// puts in place of the destination. Until then the destination is untouched; an uncommitted
// stream removes its temporary file. Writes count their bytes on monitor, if any. Once a stop
// is asked of monitor or the program (StopRequest), no stream is made, no write or flush step
// goes on and none is committed: each raises EWorkStopped.
class TFileReplaceStream : public TStream {
public:
    explicit TFileReplaceStream(const std::string& fileName,
                                WorkMonitor* monitor = nullptr); // raises EFCreateError
    ~TFileReplaceStream() override;

    std::uint64_t Read(void* buffer, std::uint64_t count) override;
    std::uint64_t Write(const void* buffer, std::uint64_t count) override;
    std::uint64_t Size() const override { return Written; }
    std::uint64_t WriteGathered(std::span<const ByteSpan> pieces) override;
    // Writes piece at offset, the file's position left as it is; threads may write their own
    // parts of the file at once. Raises EWriteError when not all of it could be written.
    void WriteAt(std::uint64_t offset, ByteSpan piece);
    // Bytes [offset, offset + size) of what was written, as a block: the file mapped where a
    // mapping keeps no file from being put in place, read into memory otherwise. No block when
    // they cannot be had.
    HeapBlock WrittenBytes(std::uint64_t offset, std::uint64_t size) const;

    // Puts the written bytes in place of the destination; raises EWriteError or EFCreateError.
    void Commit();
    // Whether the destination is a file that exists, and may be the file block maps.
    bool Replaces(const HeapBlock& block) const;

private:
    std::string FileName; // as the caller named it, for messages
    WorkMonitor* Monitor;
    Platform::ReplacedFile Replaced; // a link's target, not the link; locked while it exists
    std::string TempName;
    Platform::File Temp;
    std::atomic<std::uint64_t> Written{0}; // where the file ends
    bool Committed = false;
    // A replacing save flushes what it writes, a step at a time where the file system allows.
    // The flush is as much work again as the writes, and the bar counts it.
    Platform::FlushSteps Steps = Platform::FlushSteps::None;
    std::atomic<std::uint64_t> Unflushed{0}; // written since the last whole-file flush
    std::uint64_t WithFlush(std::uint64_t bytes) const;
    void Wrote(std::uint64_t bytes);
    void FlushUnflushed();
};
