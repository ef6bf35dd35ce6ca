#include "Stream.h"

#include "WorkMonitor.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string Format(const char* pattern, const std::string& fileName) {
    std::string text = pattern;
    text.replace(text.find("%s"), 2, fileName);
    return text;
}

// Repeats read() until count bytes have arrived, the file ends or an error stops it; returns
// how many arrived. Reads a step at a time, checking for a stop and counting on monitor.
std::uint64_t ReadFully(int fd, void* buffer, std::uint64_t count, WorkMonitor* monitor) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint64_t done = 0;
    while (done < count) {
        CheckStop(monitor);
        const ssize_t n = ::read(fd, bytes + done, std::min(count - done, kWorkStepBytes));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::uint64_t>(n);
        Advance(monitor, static_cast<std::uint64_t>(n));
    }
    return done;
}

// Moves the front of the pieces past n written bytes.
void SkipWritten(std::vector<iovec>& left, std::size_t& first, std::uint64_t n) {
    while (first < left.size() && n >= left[first].iov_len)
        n -= left[first++].iov_len;
    if (n != 0) {
        left[first].iov_base = static_cast<std::uint8_t*>(left[first].iov_base) + n;
        left[first].iov_len -= n;
    }
}

// The pieces from first on, cut after limit bytes in all: what one write of a step hands over.
std::vector<iovec> StepOf(const std::vector<iovec>& left, std::size_t first, std::uint64_t limit) {
    std::vector<iovec> step;
    for (std::size_t k = first; k < left.size() && limit != 0 && step.size() < IOV_MAX; ++k) {
        const std::uint64_t n = std::min<std::uint64_t>(left[k].iov_len, limit);
        step.push_back({left[k].iov_base, n});
        limit -= n;
    }
    return step;
}

// Repeats writev() until every piece is written or an error stops it; returns how many bytes
// were written. Writes a step at a time, checking for a stop and counting on monitor.
std::uint64_t WriteFully(int fd, std::span<const ByteSpan> pieces, WorkMonitor* monitor) {
    std::vector<iovec> left;
    for (const ByteSpan piece : pieces)
        if (!piece.empty())
            left.push_back({const_cast<std::uint8_t*>(piece.data()), piece.size()});
    std::uint64_t done = 0;
    std::size_t first = 0;
    while (first < left.size()) {
        CheckStop(monitor);
        const std::vector<iovec> step = StepOf(left, first, kWorkStepBytes);
        const ssize_t n = ::writev(fd, step.data(), static_cast<int>(step.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::uint64_t>(n);
        Advance(monitor, static_cast<std::uint64_t>(n));
        SkipWritten(left, first, static_cast<std::uint64_t>(n));
    }
    return done;
}

// True for a regular file, whose size then goes to size.
bool IsRegularFile(int fd, std::uint64_t& size) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool LockExclusively(int fd) {
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Opens an existing regular file and locks it, or gives no handle; size is the file's size
// when it was opened. O_NONBLOCK keeps a FIFO or a device from hanging the open; it is refused
// afterwards for not being a regular file.
FileHandle OpenLockedRegularFile(const std::string& fileName, std::uint64_t& size) {
    FileHandle handle(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!handle || !IsRegularFile(handle.get(), size) || !LockExclusively(handle.get()))
        return FileHandle();
    return handle;
}

std::string FolderOf(const std::string& fileName) {
    auto slash = fileName.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : fileName.substr(0, slash);
}

// Saving through a symbolic link replaces the file it points to and keeps the link. Tells
// whether the file to replace exists, and if so its status in st.
std::string ResolveLinks(const std::string& fileName, bool& exists, struct stat& st) {
    exists = ::lstat(fileName.c_str(), &st) == 0;
    if (!exists || !S_ISLNK(st.st_mode))
        return fileName;
    char* resolved = ::realpath(fileName.c_str(), nullptr);
    std::string target = resolved ? resolved : fileName;
    std::free(resolved);
    exists = ::stat(target.c_str(), &st) == 0;
    return target;
}

// Makes a rename in the folder durable. The file is in place already, so a failure here is
// no failure of the save.
void FlushFolder(const std::string& folder) {
    FileHandle handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle)
        ::fsync(handle.get());
}

// Creates the successor's file beside target under a name no file has, with mode less what
// the system takes off a new file's (the umask, or the folder's default ACL). Gives no handle
// when no such file can be made.
FileHandle CreateTemporary(const std::string& target, mode_t mode, std::string& name) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 pick{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = FolderOf(target) + "/.tessaly-";
        for (int letter = 0; letter < 6; ++letter)
            candidate += kLetters[pick() % (sizeof kLetters - 1)];
        FileHandle handle(::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (handle) {
            name = std::move(candidate);
            return handle;
        }
        if (errno != EEXIST)
            break;
    }
    return FileHandle();
}

} // namespace

EFOpenError::EFOpenError(const std::string& fileName)
    : EStreamError(Format("ファイル %s は開けません", fileName)) {}

EFCreateError::EFCreateError(const std::string& fileName)
    : EStreamError(Format("ファイル %s を作成できません", fileName)) {}

EReadError::EReadError() : EStreamError("ストリームからの読み込みエラー") {}

EWriteError::EWriteError() : EStreamError("ストリームへの書き込みエラー") {}

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

FileHandle::~FileHandle() {
    if (Fd >= 0)
        ::close(Fd);
}

FileHandle::FileHandle(FileHandle&& other) noexcept : Fd(std::exchange(other.Fd, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (Fd >= 0)
            ::close(Fd);
        Fd = std::exchange(other.Fd, -1);
    }
    return *this;
}

TFileStream::TFileStream(const std::string& fileName, WorkMonitor* monitor)
    : Monitor(monitor), Handle(OpenLockedRegularFile(fileName, OpenedSize)) {
    if (!Handle)
        throw EFOpenError(fileName);
}

TFileStream::~TFileStream() {
    ::flock(Handle.get(), LOCK_UN);
}

std::uint64_t TFileStream::Read(void* buffer, std::uint64_t count) {
    return ReadFully(Handle.get(), buffer, count, Monitor);
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
    struct stat st {};
    if (fstat(Handle.get(), &st) != 0)
        throw EReadError();
    return static_cast<std::uint64_t>(st.st_size);
}

TFileReplaceStream::TFileReplaceStream(const std::string& fileName, WorkMonitor* monitor)
    : FileName(fileName), Monitor(monitor) {
    // Once the work is asked to stop, no file is begun that it would have to clean up.
    CheckStop(Monitor);
    struct stat st {};
    bool exists = false;
    Target = ResolveLinks(fileName, exists, st);
    if (exists) {
        // Only a regular file we may write is replaced: never a folder or a device, and never
        // a file that is read-only to us or in use by another program.
        std::uint64_t size = 0;
        Existing = OpenLockedRegularFile(Target, size);
        if (!S_ISREG(st.st_mode) || !Existing || ::access(Target.c_str(), W_OK) != 0)
            throw EFCreateError(fileName);
    }
    // A new file gets the mode any new file gets; a replacing one starts private.
    Temp = CreateTemporary(Target, exists ? 0600 : 0666, TempName);
    if (!Temp)
        throw EFCreateError(fileName);
    // The successor takes the replaced file's owner (possible only for root or the owner
    // itself; otherwise it stays ours, and the failure is no failure of the save) before its
    // permission bits, which a change of owner could clear.
    if (exists) {
        if (::fchown(Temp.get(), st.st_uid, st.st_gid) != 0) {
        }
        ::fchmod(Temp.get(), st.st_mode & 07777);
    }
}

TFileReplaceStream::~TFileReplaceStream() {
    if (!Committed && !TempName.empty())
        ::unlink(TempName.c_str());
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
    Expect(Monitor, bytes, true);
    const std::uint64_t n = WriteFully(Temp.get(), pieces, Monitor);
    Written += n;
    return n;
}

void TFileReplaceStream::Commit() {
    // A replaced file must survive a crash right after the rename, so its successor reaches
    // the disk first. A brand-new file has nothing to lose and skips the costly flush.
    if (Existing && ::fsync(Temp.get()) != 0)
        throw EWriteError();
    if (::close(Temp.release()) != 0)
        throw EWriteError();
    // A stop asked for meanwhile gives the file up, and the temporary file goes: the work ends
    // with the file in hand not written at all.
    CheckStop(Monitor);
    if (::rename(TempName.c_str(), Target.c_str()) != 0)
        throw EFCreateError(FileName);
    Committed = true;
    if (Existing)
        FlushFolder(FolderOf(Target));
}
