// Interposed over the C library with LD_PRELOAD, it makes the N-th call of write (or writev,
// pwrite), fsync or rename fail when TESSALY_FAIL_WRITE, TESSALY_FAIL_FSYNC or TESSALY_FAIL_RENAME
// says N, the N-th in-memory wave's first block when TESSALY_FAIL_NEW_WAVE says N, cuts the file
// TESSALY_CUT_FILE names to 4096 bytes just before the N-th write when TESSALY_CUT_AT_WRITE says
// N (another program cutting a source while its result is written), holds up every write
// to a regular file by TESSALY_SLOW_WRITE_MS milliseconds (a slow disk), makes flushing cost
// TESSALY_SLOW_FLUSH_MS_PER_MIB milliseconds for each MiB written and not yet flushed (fsync
// and fdatasync pay for the whole file, sync_file_range for its own range), holds up the close
// of a file written to by TESSALY_SLOW_CLOSE_MS milliseconds, fails every std::thread made once
// the file TESSALY_NO_THREADS_AFTER names exists (Qt's own threads, made with attributes, still
// start), and notes each fault it injects, one line a fault, in the file TESSALY_FAULT_LOG
// names; with TESSALY_LOG_FLUSHES=1 also each sync_file_range ("range OFFSET LENGTH FLAGS"),
// each fsync of a folder and each rename made. Writes to standard input, output and error are
// passed through uncounted: the result rows must reach the test. A hold-up lasts its whole
// time, signals or not, as a disk's does.
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

namespace {

template <typename Function> Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using WriteFn = ssize_t (*)(int, const void*, size_t);
using WritevFn = ssize_t (*)(int, const iovec*, int);
using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);
using SyncFn = int (*)(int);
using RenameFn = int (*)(const char*, const char*);
using RenameAtFn = int (*)(int, const char*, int, const char*);
using RenameAt2Fn = int (*)(int, const char*, int, const char*, unsigned);
using CallocFn = void* (*)(size_t, size_t);
using SyncFileRangeFn = int (*)(int, off64_t, off64_t, unsigned);
using CloseFn = int (*)(int);
using ThreadFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

void Note(const char* what) {
    const char* log = std::getenv("TESSALY_FAULT_LOG");
    if (!log)
        return;
    const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    static const WriteFn realWrite = Next<WriteFn>("write");
    realWrite(fd, what, std::strlen(what));
    realWrite(fd, "\n", 1);
    static const auto realClose = Next<int (*)(int)>("close");
    realClose(fd);
}

// True on the call whose number the variable names; every call of the kind is counted.
bool FailThisCall(const char* variable, std::atomic<long>& calls, const char* what) {
    const char* text = std::getenv(variable);
    const long wanted = text ? std::strtol(text, nullptr, 10) : 0;
    if (++calls != wanted)
        return false;
    Note(what);
    return true;
}

std::atomic<long> writes{0}, syncs{0}, renames{0}, newWaves{0}, cutWrites{0};

// True, with errno set, when this write or writev to a file is the one to fail.
bool FailThisWrite(int fd) {
    if (fd > STDERR_FILENO && FailThisCall("TESSALY_CUT_AT_WRITE", cutWrites, "cut")) {
        const char* path = std::getenv("TESSALY_CUT_FILE");
        if (!path || truncate(path, 4096) != 0)
            std::abort(); // the test asked for a cut that cannot be made
    }
    if (fd <= STDERR_FILENO || !FailThisCall("TESSALY_FAIL_WRITE", writes, "write"))
        return false;
    errno = ENOSPC;
    return true;
}

long Setting(const char* variable) {
    const char* text = std::getenv(variable);
    return text ? std::strtol(text, nullptr, 10) : 0;
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool LogsFlushes() {
    static const bool logs = Setting("TESSALY_LOG_FLUSHES") > 0;
    return logs;
}

int Renamed(int result) {
    if (result == 0 && LogsFlushes())
        Note("renamed");
    return result;
}

void HoldUp(double milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(std::fmod(milliseconds, 1000.0) * 1e6)};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// A slow disk: writes to files take their time; pipes, sockets and terminals do not.
void HoldUpFileWrite(int fd) {
    static const long milliseconds = Setting("TESSALY_SLOW_WRITE_MS");
    if (milliseconds > 0 && IsRegularFile(fd)) {
        Note("slow write");
        HoldUp(static_cast<double>(milliseconds));
    }
}

// The bytes written to each open file and not yet flushed, by descriptor.
constexpr int kTracked = 4096;
std::atomic<long long> unflushed[kTracked];

void Wrote(int fd, ssize_t bytes) {
    if (bytes > 0 && fd > STDERR_FILENO && fd < kTracked && IsRegularFile(fd))
        unflushed[fd] += bytes;
}

// Flushing up to limit bytes of the file (all of it when limit is negative) takes its time.
void HoldUpFlush(int fd, long long limit) {
    static const long perMiB = Setting("TESSALY_SLOW_FLUSH_MS_PER_MIB");
    if (fd < 0 || fd >= kTracked)
        return;
    long long bytes = unflushed[fd].load();
    if (limit >= 0 && limit < bytes)
        bytes = limit;
    unflushed[fd] -= bytes;
    if (perMiB <= 0 || bytes <= 0)
        return;
    char line[48];
    std::snprintf(line, sizeof line, "flush %lld", bytes);
    Note(line);
    HoldUp(static_cast<double>(bytes) * static_cast<double>(perMiB) / (1 << 20));
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
    if (FailThisWrite(fd))
        return -1;
    HoldUpFileWrite(fd);
    static const WriteFn real = Next<WriteFn>("write");
    const ssize_t written = real(fd, buffer, count);
    Wrote(fd, written);
    return written;
}

ssize_t writev(int fd, const iovec* pieces, int count) {
    if (FailThisWrite(fd))
        return -1;
    HoldUpFileWrite(fd);
    static const WritevFn real = Next<WritevFn>("writev");
    const ssize_t written = real(fd, pieces, count);
    Wrote(fd, written);
    return written;
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    if (FailThisWrite(fd))
        return -1;
    HoldUpFileWrite(fd);
    static const PwriteFn real = Next<PwriteFn>("pwrite");
    const ssize_t written = real(fd, buffer, count, offset);
    Wrote(fd, written);
    return written;
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
    return pwrite(fd, buffer, count, offset);
}

int fsync(int fd) {
    if (FailThisCall("TESSALY_FAIL_FSYNC", syncs, "fsync")) {
        errno = EIO;
        return -1;
    }
    struct stat st {};
    if (LogsFlushes() && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        Note("folder fsync");
    HoldUpFlush(fd, -1);
    static const SyncFn real = Next<SyncFn>("fsync");
    return real(fd);
}

int fdatasync(int fd) {
    if (FailThisCall("TESSALY_FAIL_FSYNC", syncs, "fsync")) {
        errno = EIO;
        return -1;
    }
    HoldUpFlush(fd, -1);
    static const SyncFn real = Next<SyncFn>("fdatasync");
    return real(fd);
}

int sync_file_range(int fd, off64_t offset, off64_t length, unsigned flags) {
    if (LogsFlushes()) {
        char line[80];
        std::snprintf(line, sizeof line, "range %lld %lld %u", static_cast<long long>(offset),
                      static_cast<long long>(length), flags);
        Note(line);
    }
    HoldUpFlush(fd, length == 0 ? -1 : length);
    static const SyncFileRangeFn real = Next<SyncFileRangeFn>("sync_file_range");
    return real(fd, offset, length, flags);
}

int close(int fd) {
    static const long slowClose = Setting("TESSALY_SLOW_CLOSE_MS");
    if (slowClose > 0 && fd > STDERR_FILENO && IsRegularFile(fd) &&
        (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY) {
        Note("slow close");
        HoldUp(static_cast<double>(slowClose));
    }
    if (fd >= 0 && fd < kTracked)
        unflushed[fd] = 0;
    static const CloseFn real = Next<CloseFn>("close");
    return real(fd);
}

int rename(const char* from, const char* to) {
    if (FailThisCall("TESSALY_FAIL_RENAME", renames, "rename")) {
        errno = EXDEV;
        return -1;
    }
    static const RenameFn real = Next<RenameFn>("rename");
    return Renamed(real(from, to));
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (FailThisCall("TESSALY_FAIL_RENAME", renames, "rename")) {
        errno = EXDEV;
        return -1;
    }
    static const RenameAtFn real = Next<RenameAtFn>("renameat");
    return Renamed(real(fromDir, from, toDir, to));
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if (FailThisCall("TESSALY_FAIL_RENAME", renames, "rename")) {
        errno = EXDEV;
        return -1;
    }
    static const RenameAt2Fn real = Next<RenameAt2Fn>("renameat2");
    return Renamed(real(fromDir, from, toDir, to, flags));
}

// Only zeroed blocks of 2 bytes are counted: the one 16-bit mono frame a fresh in-memory wave
// starts with, so the N-th of them is the N-th wave the component makes.
void* calloc(size_t count, size_t size) {
    if (count * size == 2 && FailThisCall("TESSALY_FAIL_NEW_WAVE", newWaves, "new wave")) {
        errno = ENOMEM;
        return nullptr;
    }
    static const CallocFn real = Next<CallocFn>("calloc");
    return real(count, size);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
    const char* marker = std::getenv("TESSALY_NO_THREADS_AFTER");
    if (!attributes && marker && access(marker, F_OK) == 0) {
        Note("thread");
        return EAGAIN;
    }
    static const ThreadFn real = Next<ThreadFn>("pthread_create");
    return real(thread, attributes, start, argument);
}

} // extern "C"
