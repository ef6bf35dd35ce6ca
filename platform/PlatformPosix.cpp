// The POSIX side of the platform interface (Linux).
#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <spawn.h>
#include <string_view>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Platform {
namespace {

int Fd(const File& file) {
    return static_cast<int>(file.get());
}

// True for a regular file, whose size then goes to size.
bool IsRegularFile(int fd, std::uint64_t& size) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
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

struct SpawnAttributesDestroy {
    void operator()(posix_spawnattr_t* attributes) const { posix_spawnattr_destroy(attributes); }
};
using SpawnAttributes = std::unique_ptr<posix_spawnattr_t, SpawnAttributesDestroy>;

// Its own session, so a signal to our terminal's process group does not reach it; every signal
// at its default and none blocked, as this process ignores SIGXFSZ.
SpawnAttributes OwnSessionDefaultSignals(posix_spawnattr_t& storage) {
    posix_spawnattr_init(&storage);
    SpawnAttributes attributes(&storage);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&storage, &all);
    posix_spawnattr_setsigmask(&storage, &none);
    posix_spawnattr_setflags(&storage,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    return attributes;
}

// Starts program, found on PATH, with argument as its one argument, byte for byte; does not
// wait for it, and reaps it when it ends.
bool StartDetached(const std::string& program, const std::string& argument) {
    posix_spawnattr_t storage;
    const SpawnAttributes attributes = OwnSessionDefaultSignals(storage);
    // posix_spawnp takes non-const strings but does not change them.
    std::string programCopy = program, argumentCopy = argument;
    char* arguments[] = {programCopy.data(), argumentCopy.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program.c_str(), nullptr, attributes.get(), arguments, environ) != 0)
        return false;
    // Collects its exit status whenever it ends, so no finished child lingers as a zombie.
    std::thread([child] { waitpid(child, nullptr, 0); }).detach();
    return true;
}

} // namespace

// ---- Paths and folders

std::size_t FolderPartLength(const std::string& path) {
    // UTF-8, or any byte string a name may be: no byte of a multi-byte character is "/".
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

char PathSeparator() {
    return '/';
}

std::string ExecutablePath() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : executable.string();
}

bool MakeFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::create_directory(path, error);
}

std::vector<std::string> ExpandWildcards(const std::string& argument) {
    return {argument};
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return {};
    std::string folder = home;
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return folder + '/';
}

bool InstalledByInstaller(const std::string&) {
    // An installing build says so when it is made (TESSALY_HOME_DESTINATION).
    return false;
}

// ---- Files

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        Native = std::exchange(other.Native, kNone);
    }
    return *this;
}

bool File::Close() {
    return Native == kNone || ::close(static_cast<int>(std::exchange(Native, kNone))) == 0;
}

File OpenLockedRegularFile(const std::string& path, std::uint64_t& size) {
    // O_NONBLOCK keeps a FIFO or a device from hanging the open; it is refused afterwards for
    // not being a regular file.
    File file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file || !IsRegularFile(Fd(file), size) || flock(Fd(file), LOCK_EX | LOCK_NB) != 0)
        return File();
    return file;
}

void Unlock(const File& file) {
    ::flock(Fd(file), LOCK_UN);
}

bool SizeOf(const File& file, std::uint64_t& size) {
    struct stat st {};
    if (fstat(Fd(file), &st) != 0)
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::int64_t ReadOnce(const File& file, void* buffer, std::uint64_t count) {
    const ssize_t n = ::read(Fd(file), buffer, count);
    return n >= 0 ? n : errno == EINTR ? kInterrupted : kFailed;
}

std::int64_t WriteOnce(const File& file, std::span<const std::span<const std::uint8_t>> pieces) {
    std::vector<iovec> vectors;
    for (const auto piece : pieces.first(std::min<std::size_t>(pieces.size(), IOV_MAX)))
        vectors.push_back({const_cast<std::uint8_t*>(piece.data()), piece.size()});
    const ssize_t n = ::writev(Fd(file), vectors.data(), static_cast<int>(vectors.size()));
    return n >= 0 ? n : errno == EINTR ? kInterrupted : kFailed;
}

std::int64_t WriteOnceAt(const File& file, std::uint64_t offset,
                         std::span<const std::uint8_t> bytes) {
    const ssize_t n = ::pwrite(Fd(file), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    return n >= 0 ? n : errno == EINTR ? kInterrupted : kFailed;
}

std::int64_t ReadOnceAt(const File& file, std::uint64_t offset, void* buffer, std::uint64_t count) {
    const ssize_t n = ::pread(Fd(file), buffer, count, static_cast<off_t>(offset));
    return n >= 0 ? n : errno == EINTR ? kInterrupted : kFailed;
}

void AdviseWillRead(const std::string& path, std::uint64_t bytes) {
    // Only a regular file is opened: opening a device can do something of its own. A FIFO put
    // in its place meanwhile opens at once all the same (O_NONBLOCK), and takes no advice.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const File file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file)
        (void)::posix_fadvise(Fd(file), 0, static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
}

// ---- The atomic save

bool FindReplaced(const std::string& path, ReplacedFile& replaced) {
    struct stat st {};
    replaced.Target = ResolveLinks(path, replaced.Exists, st);
    if (!replaced.Exists)
        return true;
    // Only a regular file we may write is replaced: never a folder or a device, and never a
    // file that is read-only to us or in use by another program.
    std::uint64_t size = 0;
    replaced.Lock = OpenLockedRegularFile(replaced.Target, size);
    replaced.Owner = st.st_uid;
    replaced.Group = st.st_gid;
    replaced.Mode = st.st_mode & 07777;
    return S_ISREG(st.st_mode) && replaced.Lock && ::access(replaced.Target.c_str(), W_OK) == 0;
}

File CreateSuccessor(const ReplacedFile& replaced, std::string& name) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 pick{std::random_device{}()};
    // A new file gets the mode any new file gets, less what the system takes off (the umask,
    // or the folder's default ACL); a replacing one starts private.
    const mode_t mode = replaced.Exists ? 0600 : 0666;
    File file;
    for (int attempt = 0; attempt < 100 && !file; ++attempt) {
        std::string candidate = FolderOf(replaced.Target) + "/.tessaly-";
        for (int letter = 0; letter < 6; ++letter)
            candidate += kLetters[pick() % (sizeof kLetters - 1)];
        file = File(::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (file)
            name = std::move(candidate);
        else if (errno != EEXIST)
            break;
    }
    // The successor takes the replaced file's owner (possible only for root or the owner
    // itself; otherwise it stays ours, and the failure is no failure of the save) before its
    // permission bits, which a change of owner could clear.
    if (file && replaced.Exists) {
        if (::fchown(Fd(file), replaced.Owner, replaced.Group) != 0) {
        }
        ::fchmod(Fd(file), replaced.Mode);
    }
    return file;
}

bool FlushToDisk(const File& file) {
    return ::fsync(Fd(file)) == 0;
}

bool FlushRange(const File& file, std::uint64_t offset, std::uint64_t length) {
    // Waits for writeback already under way, starts the range's own and waits for that too.
    // A file system without the call (EINVAL, ENOSYS) leaves it all to the final fsync.
    constexpr unsigned kWriteAndWait =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    return ::sync_file_range(Fd(file), static_cast<off_t>(offset), static_cast<off_t>(length),
                             kWriteAndWait) == 0 ||
           errno == EINVAL || errno == ENOSYS || errno == ESPIPE;
}

FlushSteps FlushStepsOf(const File& file) {
    // A FUSE file system hears of a flush only through fsync, and overlayfs hands fsync to the
    // file beneath it: sync_file_range succeeds on both without writing anything.
    constexpr decltype(statfs::f_type) kFuse = 0x65735546, kOverlay = 0x794c7630;
    struct statfs system {};
    if (::fstatfs(Fd(file), &system) == 0 && (system.f_type == kFuse || system.f_type == kOverlay))
        return FlushSteps::ByWholeFile;
    return FlushSteps::ByRange;
}

bool PutInPlace(const std::string& name, ReplacedFile& replaced) {
    return ::rename(name.c_str(), replaced.Target.c_str()) == 0;
}

void FlushFolderOf(const std::string& path) {
    const File folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(Fd(folder));
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

bool MappedFilesBlockReplace() {
    return false;
}

bool KeyOf(std::intptr_t file, FileKey& key) {
    struct stat status {};
    if (fstat(static_cast<int>(file), &status) != 0)
        return false;
    key = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return true;
}

// ---- Memory

std::uint64_t PageSize() {
    static const auto size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::uint8_t* AllocatePages(std::uint64_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    // Transparent huge pages cut the cost of faulting a large block in.
    madvise(p, size, MADV_HUGEPAGE);
    return static_cast<std::uint8_t*>(p);
}

std::uint8_t* MapFile(std::intptr_t file, std::uint64_t size) {
    // Not populated up front: pages come in as the samples are read and go again behind a
    // conversion, so the whole file is never resident at once.
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, static_cast<int>(file), 0);
    return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

void ReleasePages(std::uint8_t* first, std::uint64_t length) {
    munmap(first, length);
}

void FreePages(std::uint8_t* base, std::uint64_t length) {
    munmap(base, length);
}

bool WatchShrinking(std::intptr_t file, File& watched) {
    watched = File(fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0));
    return static_cast<bool>(watched);
}

bool StillCovers(const File& watched, std::uint64_t size) {
    std::uint64_t now = 0;
    return SizeOf(watched, now) && now >= size;
}

void AdviseWillNeed(std::uint8_t* first, std::uint64_t length) {
    // The kernel reads no more than its read-ahead window for one advice (a few MiB, on some
    // disks 128 KiB), so the range is advised a step at a time. A step whose last page the
    // page cache holds is taken as there: advising it would look up each of its pages again.
    constexpr std::uint64_t kStep = std::uint64_t{1} << 20;
    std::uint8_t* const end = first + length;
    for (std::uint8_t* at = first; at < end; at += kStep) {
        const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, end - at));
        unsigned char resident = 0;
        if (mincore(at + step - PageSize(), PageSize(), &resident) != 0 || !(resident & 1))
            madvise(at, step, MADV_WILLNEED);
    }
}

double CachedShare(std::uint8_t* first, std::uint64_t length) {
    // Pages spread over the range stand for it: asking for every page of a long file would
    // cost more than the answer is worth.
    constexpr std::uint64_t kSamples = 64;
    const std::uint64_t pages = length / PageSize();
    if (pages == 0)
        return 1;
    std::uint64_t cached = 0;
    for (std::uint64_t k = 0; k < kSamples; ++k) {
        unsigned char page = 1;
        mincore(first + (pages * k / kSamples) * PageSize(), PageSize(), &page);
        cached += page & 1;
    }
    return static_cast<double>(cached) / kSamples;
}

void PrefaultPages(std::uint8_t* first, std::uint64_t length) {
    madvise(first, length, MADV_POPULATE_READ);
}

void DiscardPages(std::uint8_t* first, std::uint64_t length) {
    madvise(first, length, MADV_DONTNEED);
}

// ---- The desktop

std::string FileUrlPath(const std::string& host, const std::string& path) {
    return host.empty() || host == "localhost" ? path : std::string();
}

bool OpenInSoundEditor(const std::string& path) {
    return StartDetached("audacity", path);
}

// ---- Process

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareWindowProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
}

void PrepareProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
}

void MarkRunning(const std::string&) {
    // A running program's file stays usable when a package manager replaces or removes it.
}

Terminal ErrorTerminal() {
    if (isatty(STDERR_FILENO) != 1)
        return Terminal::None;
    // A dumb terminal (Emacs' shell, many CI logs) goes back to the line's start with "\r" but
    // shows escape sequences as text.
    const char* term = std::getenv("TERM");
    return term != nullptr && std::string_view(term) == "dumb" ? Terminal::Plain
                                                               : Terminal::Escapes;
}

bool WriteToConsole(std::FILE*, const std::string&) {
    // A terminal takes UTF-8 bytes in any pieces.
    return false;
}

void CatchStopSignals(void (*handler)(int)) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = handler;
        // No SA_RESTART: a write blocked on a full pipe must end, not wait on, once a stop comes.
        action.sa_flags = 0;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

void EndAsStopped(int signal) {
    // The signal's default action, as if it had never been caught: the shell then sees 130,
    // 143 or 129.
    std::signal(signal, SIG_DFL);
    raise(signal);
    _exit(128 + signal);
}

} // namespace Platform
