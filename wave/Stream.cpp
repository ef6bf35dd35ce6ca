#include "Stream.h"

#include "WorkMonitor.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace {

std::string Format(const char* pattern, const std::string& fileName) {
    std::string text = pattern;
    text.replace(text.find("%s"), 2, fileName);
    return text;
}

// Repeats reads until count bytes have arrived, the file ends or an error stops it; returns
// how many arrived. Reads a step at a time, checking for a stop and counting on monitor.
std::uint64_t ReadFully(const Platform::File& file, void* buffer, std::uint64_t count,
                        WorkMonitor* monitor) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint64_t done = 0;
    while (done < count) {
        CheckStop(monitor);
        const std::int64_t n =
            Platform::ReadOnce(file, bytes + done, std::min(count - done, kWorkStepBytes));
        if (n == Platform::kInterrupted)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::uint64_t>(n);
        Advance(monitor, static_cast<std::uint64_t>(n));
    }
    return done;
}

// Moves the front of the pieces past n written bytes.
void SkipWritten(std::vector<ByteSpan>& left, std::size_t& first, std::uint64_t n) {
    while (first < left.size() && n >= left[first].size())
        n -= left[first++].size();
    if (n != 0)
        left[first] = left[first].subspan(n);
}

// The pieces from first on, cut after limit bytes in all: what one write of a step hands over.
std::vector<ByteSpan> StepOf(const std::vector<ByteSpan>& left, std::size_t first,
                             std::uint64_t limit) {
    std::vector<ByteSpan> step;
    for (std::size_t k = first; k < left.size() && limit != 0; ++k) {
        const std::uint64_t n = std::min<std::uint64_t>(left[k].size(), limit);
        step.push_back(left[k].first(n));
        limit -= n;
    }
    return step;
}

// Repeats writes until every piece is written or an error stops it; returns how many bytes
// were written. Writes up to stepBytes at a time, checking for a stop, counting on monitor and
// telling wrote each step's bytes.
std::uint64_t WriteFully(const Platform::File& file, std::span<const ByteSpan> pieces,
                         WorkMonitor* monitor, std::uint64_t stepBytes,
                         const std::function<void(std::uint64_t)>& wrote) {
    std::vector<ByteSpan> left;
    for (const ByteSpan piece : pieces)
        if (!piece.empty())
            left.push_back(piece);
    std::uint64_t done = 0;
    std::size_t first = 0;
    while (first < left.size()) {
        CheckStop(monitor);
        const std::int64_t n = Platform::WriteOnce(file, StepOf(left, first, stepBytes));
        if (n == Platform::kInterrupted)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::uint64_t>(n);
        Advance(monitor, static_cast<std::uint64_t>(n));
        SkipWritten(left, first, static_cast<std::uint64_t>(n));
        wrote(static_cast<std::uint64_t>(n));
    }
    return done;
}

// A flush step: at a USB stick's 10 MB/s a fifth of a second, so a stop waits no longer.
constexpr std::uint64_t kFlushStepBytes = std::uint64_t{2} << 20;

} // namespace

EFOpenError::EFOpenError(const std::string& fileName)
    : EStreamError(Format("ファイル %s は開けません", fileName)) {}

EFCreateError::EFCreateError(const std::string& fileName)
    : EStreamError(Format("ファイル %s を作成できません", fileName)) {}

EReadError::EReadError() : EStreamError("ストリームからの読み込みエラー") {}

EWriteError::EWriteError() : EStreamError("ストリームへの書き込みエラー") {}

bool ReadFullyAt(const Platform::File& file, std::uint64_t offset, void* buffer,
                 std::uint64_t count) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (std::uint64_t done = 0; done < count;) {
        const std::int64_t n =
            Platform::ReadOnceAt(file, offset + done, bytes + done, count - done);
        if (n == Platform::kInterrupted)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::uint64_t>(n);
    }
    return true;
}

HeapBlock TStream::ReadAll() {
    return ReadBlock(Size());
}

HeapBlock TStream::ReadBlock(std::uint64_t size) {
    HeapBlock block(size, HeapBlock::Fill::Overwritten);
    ReadBuffer(block.data(), block.size());
    return block;
}

void TStream::ReadBuffer(void* buffer, std::uint64_t count) {
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError();
}

std::uint64_t TStream::WriteGathered(std::span<const ByteSpan> pieces) {
    std::uint64_t done = 0;
    for (const ByteSpan piece : pieces) {
        const std::uint64_t n = piece.empty() ? 0 : Write(piece.data(), piece.size());
        done += n;
        if (n != piece.size())
            break;
    }
    return done;
}

void TStream::WriteBuffers(std::span<const ByteSpan> pieces) {
    std::uint64_t count = 0;
    for (const ByteSpan piece : pieces)
        count += piece.size();
    if (count != 0 && WriteGathered(pieces) != count)
        throw EWriteError();
}

std::uint64_t TMemoryStream::Read(void* buffer, std::uint64_t count) {
    std::uint64_t left = Position < Bytes.size() ? Bytes.size() - Position : 0;
    std::uint64_t n = std::min(count, left);
    if (n != 0)
        std::memcpy(buffer, Bytes.data() + Position, n);
    Position += n;
    return n;
}

std::uint64_t TMemoryStream::Write(const void* buffer, std::uint64_t count) {
    if (Position + count > Bytes.size())
        Bytes.resize(Position + count);
    if (count != 0)
        std::memcpy(Bytes.data() + Position, buffer, count);
    Position += count;
    return count;
}

TFileStream::TFileStream(const std::string& fileName, WorkMonitor* monitor)
    : Monitor(monitor), Handle(Platform::OpenLockedRegularFile(fileName, OpenedSize)) {
    if (!Handle)
        throw EFOpenError(fileName);
    if (Monitor)
        Monitor->SourceOpened(OpenedSize);
}

TFileStream::~TFileStream() {
    Platform::Unlock(Handle);
}

std::uint64_t TFileStream::Read(void* buffer, std::uint64_t count) {
    return ReadFully(Handle, buffer, count, Monitor);
}

HeapBlock TFileStream::ReadAll() {
    HeapBlock mapped = HeapBlock::MapFile(Handle.get(), OpenedSize);
    if (mapped)
        return mapped; // read later, by whatever reads the samples
    Expect(Monitor, OpenedSize, false);
    return ReadBlock(OpenedSize);
}

std::uint64_t TFileStream::Write(const void*, std::uint64_t) {
    return 0;
}

std::uint64_t TFileStream::Size() const {
    std::uint64_t size = 0;
    if (!Platform::SizeOf(Handle, size))
        throw EReadError();
    return size;
}

TFileReplaceStream::TFileReplaceStream(const std::string& fileName, WorkMonitor* monitor)
    : FileName(fileName), Monitor(monitor) {
    // Once the work is asked to stop, no file is begun that it would have to clean up.
    CheckStop(Monitor);
    if (!Platform::FindReplaced(fileName, Replaced))
        throw EFCreateError(fileName);
    Temp = Platform::CreateSuccessor(Replaced, TempName);
    if (!Temp)
        throw EFCreateError(fileName);
    Steps = Platform::FlushStepsOf(Temp);
}

TFileReplaceStream::~TFileReplaceStream() {
    if (!Committed && !TempName.empty()) {
        Temp.Close();
        Platform::RemoveFile(TempName);
    }
}

std::uint64_t TFileReplaceStream::Read(void*, std::uint64_t) {
    return 0;
}

std::uint64_t TFileReplaceStream::Write(const void* buffer, std::uint64_t count) {
    const ByteSpan piece(static_cast<const std::uint8_t*>(buffer), count);
    return WriteGathered({&piece, 1});
}

std::uint64_t TFileReplaceStream::WriteGathered(std::span<const ByteSpan> pieces) {
    std::uint64_t bytes = 0;
    for (const ByteSpan piece : pieces)
        bytes += piece.size();
    Expect(Monitor, WithFlush(bytes), true);
    // Where each written step is flushed whole, the steps are as small as the flush's.
    const std::uint64_t step = Steps == Platform::FlushSteps::ByWholeFile && Replaced.Exists
                                   ? kFlushStepBytes
                                   : kWorkStepBytes;
    const std::uint64_t n =
        WriteFully(Temp, pieces, Monitor, step, [this](std::uint64_t bytes) { Wrote(bytes); });
    Written.fetch_add(n);
    return n;
}

void TFileReplaceStream::WriteAt(std::uint64_t offset, ByteSpan piece) {
    Expect(Monitor, WithFlush(piece.size()), true);
    while (!piece.empty()) {
        CheckStop(Monitor);
        const std::int64_t n = Platform::WriteOnceAt(Temp, offset, piece);
        if (n == Platform::kInterrupted)
            continue;
        if (n <= 0)
            throw EWriteError();
        const auto written = static_cast<std::uint64_t>(n);
        offset += written;
        piece = piece.subspan(written);
        Advance(Monitor, written);
        Wrote(written);
    }
    for (std::uint64_t end = Written;
         offset > end && !Written.compare_exchange_weak(end, offset);) {
    }
}

std::uint64_t TFileReplaceStream::WithFlush(std::uint64_t bytes) const {
    return Replaced.Exists ? 2 * bytes : bytes;
}

void TFileReplaceStream::Wrote(std::uint64_t bytes) {
    if (!Replaced.Exists || Steps == Platform::FlushSteps::ByRange)
        return;
    const std::uint64_t unflushed = Unflushed.fetch_add(bytes) + bytes;
    if (Steps == Platform::FlushSteps::ByWholeFile && unflushed >= kFlushStepBytes)
        FlushUnflushed();
}

void TFileReplaceStream::FlushUnflushed() {
    CheckStop(Monitor);
    const std::uint64_t bytes = Unflushed.exchange(0);
    if (!Platform::FlushToDisk(Temp))
        throw EWriteError();
    Advance(Monitor, bytes);
}

HeapBlock TFileReplaceStream::WrittenBytes(std::uint64_t offset, std::uint64_t size) const {
    if (offset > Written || size > Written - offset)
        return {};
    if (!Platform::MappedFilesBlockReplace()) {
        HeapBlock mapped = HeapBlock::MapFile(Temp.get(), offset + size);
        if (mapped) {
            mapped.Narrow(offset, size);
            return mapped;
        }
    }
    HeapBlock block(size, HeapBlock::Fill::Overwritten);
    if (!ReadFullyAt(Temp, offset, block.data(), size))
        return {};
    return block;
}

bool TFileReplaceStream::Replaces(const HeapBlock& block) const {
    Platform::FileKey key;
    return Replaced.Exists && (!Platform::KeyOf(Replaced.Lock.get(), key) || block.MapsFile(key));
}

void TFileReplaceStream::Commit() {
    // A replaced file must survive a crash right after the replace, so its successor reaches
    // the disk first. A brand-new file has nothing to lose and skips the costly flush. On a
    // slow disk the flush is nearly all of a save's time (the writes only filled the page
    // cache), so it goes a step at a time, looking for a stop between steps.
    if (Replaced.Exists) {
        const std::uint64_t size = Steps == Platform::FlushSteps::ByRange ? Written.load() : 0;
        for (std::uint64_t done = 0; done < size; done += kFlushStepBytes) {
            CheckStop(Monitor);
            const std::uint64_t step = std::min(kFlushStepBytes, size - done);
            if (!Platform::FlushRange(Temp, done, step))
                throw EWriteError();
            Advance(Monitor, step);
        }
        FlushUnflushed();
    }
    if (!Temp.Close())
        throw EWriteError();
    // A stop asked for meanwhile gives the file up, and the temporary file goes: the work ends
    // with the file in hand not written at all.
    CheckStop(Monitor);
    if (!Platform::PutInPlace(TempName, Replaced))
        throw EFCreateError(FileName);
    Committed = true;
    if (Replaced.Exists)
        Platform::FlushFolderOf(Replaced.Target);
}
