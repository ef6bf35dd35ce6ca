// What the operating system does for Tessaly, behind one interface: PlatformPosix.cpp and
// PlatformWin32.cpp implement it, and the build takes the one for its system. Everywhere else
// paths and texts are UTF-8 (on POSIX, a name's bytes as the file system has them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace Platform {

// ---- Paths and folders

// How many leading characters of path are its folder part: up to and including the last
// character that ends a folder ("/"; on Windows also "\" and a drive's ":"), 0 when none does.
std::size_t FolderPartLength(const std::string& path);
// The character put between a folder and a name that goes in it.
char PathSeparator();
// The full path of the running program, or empty when the system does not tell it.
std::string ExecutablePath();
// Makes the folder (one level); false when it cannot be made or is there already.
bool MakeFolder(const std::string& path);
// The files a file argument names: on Windows, where programs expand wildcards themselves, the
// files whose names match "*" and "?" in its name part, without regard to case, in name order,
// each behind the folder part as typed; the argument itself when it has no wildcard or nothing
// matches. On POSIX the shell has expanded them: the argument as it is.
std::vector<std::string> ExpandWildcards(const std::string& argument);
// The user's home folder, ending in its separator ($HOME; on Windows %USERPROFILE%), or empty
// when it is not set to an absolute path.
std::string HomeFolder();
// Whether the program in programFolder was put there by the installer, which leaves its
// uninstaller beside it (Windows); such a copy writes into the user's home, not beside itself.
bool InstalledByInstaller(const std::string& programFolder);

// ---- Files

// An open file of the system (a POSIX descriptor, a Windows handle), closed on every path.
class File {
public:
    static constexpr std::intptr_t kNone = -1;

    File() = default;
    explicit File(std::intptr_t native) : Native(native) {}
    ~File() { Close(); }
    File(File&& other) noexcept : Native(std::exchange(other.Native, kNone)) {}
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    std::intptr_t get() const { return Native; }
    std::intptr_t release() { return std::exchange(Native, kNone); }
    explicit operator bool() const { return Native != kNone; }
    // False when the system reports that the file's last writes failed.
    bool Close();

private:
    std::intptr_t Native = kNone;
};

// Opens an existing regular file for reading and locks it against every cooperating program;
// no file when it is missing, not a regular file, or in use. size is its size when opened.
// Never blocks and never creates the file.
File OpenLockedRegularFile(const std::string& path, std::uint64_t& size);
// Lets go of the lock before the file is closed (a mapping may keep it open longer).
void Unlock(const File& file);
// The file's size now; false when the system cannot tell it.
bool SizeOf(const File& file, std::uint64_t& size);
// What one read or write gives that is no count of bytes.
inline constexpr std::int64_t kFailed = -1;
// A signal came before any byte moved: the caller checks for a stop and tries again.
inline constexpr std::int64_t kInterrupted = -2;
// One read of up to count bytes: how many arrived (0 at the end of the file), or kFailed or
// kInterrupted.
std::int64_t ReadOnce(const File& file, void* buffer, std::uint64_t count);
// One write of the pieces, one after the other: how many bytes it took (it may take fewer than
// given), or kFailed or kInterrupted.
std::int64_t WriteOnce(const File& file, std::span<const std::span<const std::uint8_t>> pieces);
// The same at offset, wherever the file's position is; several threads may write and read one
// file at once this way.
std::int64_t WriteOnceAt(const File& file, std::uint64_t offset,
                         std::span<const std::uint8_t> bytes);
std::int64_t ReadOnceAt(const File& file, std::uint64_t offset, void* buffer, std::uint64_t count);
// Asks the system to read the head of the file at path from the disk now, in the background;
// a missing or irregular file is passed over. Only advice: nothing is held open.
void AdviseWillRead(const std::string& path, std::uint64_t bytes);

// ---- The atomic save: a successor written beside the file it replaces, then put in its place

// The file a save replaces: where it is (a symbolic link's target, not the link), whether it
// exists, and, locked, the file itself with what its successor takes over from it.
struct ReplacedFile {
    std::string Target;
    bool Exists = false;
    File Lock;
    std::uint32_t Owner = 0, Group = 0, Mode = 0;
};
// Finds the file that saving to path replaces. False when path names something a save must not
// replace: no regular file, one read-only to us, or one in use.
bool FindReplaced(const std::string& path, ReplacedFile& replaced);
// Creates the successor under a name no file has, beside the replaced file, with its owner and
// mode as far as we may give them (a new file gets what any new file gets); no file when none
// can be made.
File CreateSuccessor(const ReplacedFile& replaced, std::string& name);
// Makes the written bytes durable before they replace a file; false on failure.
bool FlushToDisk(const File& file);
// Writes [offset, offset + length) of the file out to the disk and waits for it, so that a
// flush can go a step at a time and FlushToDisk then has little left to do. Where the system
// can only flush a file whole (Windows), it does nothing and FlushToDisk does it all; false on
// failure.
bool FlushRange(const File& file, std::uint64_t offset, std::uint64_t length);
// How a flush can go a step at a time on the file's file system, so that a stop waits for one
// step only.
enum class FlushSteps {
    ByRange,     // FlushRange writes each range out and waits for it
    ByWholeFile, // a range flush does nothing there (FUSE and overlay file systems pass a flush
                 // on to another layer whole): FlushToDisk after every few MiB written
    None,        // FlushToDisk does it all at the end
};
FlushSteps FlushStepsOf(const File& file);
// Puts the closed successor named name in place of the replaced file, in one step; false when
// it cannot. The lock may be let go first where a locked file cannot be replaced.
bool PutInPlace(const std::string& name, ReplacedFile& replaced);
// Makes a replace durable; a failure here is no failure of the save.
void FlushFolderOf(const std::string& path);
void RemoveFile(const std::string& path);
// Whether a file mapped into memory keeps a replace from taking its place (Windows): then a
// mapped block must be read into memory before its file is replaced.
bool MappedFilesBlockReplace();
// Which file an open file is, the same through every handle and path of it.
struct FileKey {
    std::uint64_t Volume = 0, Index = 0;
    bool operator==(const FileKey&) const = default;
};
// The key of the open file (its system handle); false when the system cannot tell it.
bool KeyOf(std::intptr_t file, FileKey& key);

// ---- Memory: pages straight from the system, and files mapped in their place

std::uint64_t PageSize();
// Zero pages for a large block; nullptr when none can be had.
std::uint8_t* AllocatePages(std::uint64_t size);
// The first size bytes of the open file (its system handle), mapped read-only and private;
// nullptr when not possible.
std::uint8_t* MapFile(std::intptr_t file, std::uint64_t size);
// Gives back the pages from first for length bytes, part of an allocation of AllocatePages or
// MapFile; the rest stays usable.
void ReleasePages(std::uint8_t* first, std::uint64_t length);
// Gives back the whole allocation whose remaining pages are [base, base + length).
void FreePages(std::uint8_t* base, std::uint64_t length);
// What a mapping needs to see whether its file shrinks: its own handle where files can shrink
// under a mapping (POSIX), none where they cannot (Windows). False when it cannot be had.
bool WatchShrinking(std::intptr_t file, File& watched);
// False when the watched file is now shorter than size.
bool StillCovers(const File& watched, std::uint64_t size);
// Advice for mapped pages: asks the system to read [first, first + length) from the disk in the
// background (steps whose last page is resident are passed over), to map it in one call, or
// to let its memory go (the pages stay in the cache and read the same when touched again).
void AdviseWillNeed(std::uint8_t* first, std::uint64_t length);
// About what share of the pages of [first, first + length), mapped from a file, the page
// cache holds, from 0 to 1; 1 where the system does not tell.
double CachedShare(std::uint8_t* first, std::uint64_t length);
void PrefaultPages(std::uint8_t* first, std::uint64_t length);
void DiscardPages(std::uint8_t* first, std::uint64_t length);

// ---- The desktop

// The local path a file URL names, from its host and its percent-decoded path: the path itself
// on POSIX, where another host's file has none (empty); on Windows the drive path ("/C:/a.wav"
// gives C:\a.wav) or, for another host, its share (\\host\share\a.wav).
std::string FileUrlPath(const std::string& host, const std::string& path);
// Opens the file in a sound editor, on its own and not waited for: Audacity where the system
// finds it, else (Windows) the program the file's type is edited with, then opened with.
// Returns whether one started.
bool OpenInSoundEditor(const std::string& path);

// ---- Process

// The program's arguments as UTF-8 (Windows hands them over in UTF-16).
std::vector<std::string> Arguments(int argc, char** argv);
// Readies the process for a batch: a write past a file-size limit fails instead of killing it,
// and the console shows UTF-8 and the counter's escape sequences. The console's code page and
// mode are put back as they were when the process ends: at a return from main, at exit, and in
// EndAsStopped.
void PrepareProcess();
// Readies the window's process: a write past a file-size limit fails instead of killing it.
void PrepareWindowProcess();
// Marks, for as long as the process runs, that a program of the installation in programFolder
// is running, where an installer must know it before it replaces or removes the programs
// (Windows: a named mutex that windows/installer.nsi looks for, held by installed copies only).
// Nothing where a running program's files can be replaced (POSIX).
void MarkRunning(const std::string& programFolder);
// What standard error is for the counter: no terminal (a pipe, a file, a null device), a
// terminal that takes escape sequences, or a console that shows them as text.
enum class Terminal { None, Escapes, Plain };
Terminal ErrorTerminal();
// Writes text, UTF-8, to stream (stdout or stderr) in one piece when the stream is a console
// that would otherwise get it in pieces, splitting characters (Windows: as UTF-16 through the
// console's own call), and returns true; false, writing nothing, for any other stream, whose
// bytes the caller writes as they are. What was written to stream before must be flushed.
bool WriteToConsole(std::FILE* stream, const std::string& text);
// Has the stop signals (SIGINT, SIGTERM, SIGHUP; on Windows the console's Ctrl-C, Ctrl-Break
// and close) call handler with the matching signal number, each unless it was ignored when the
// program started (as nohup ignores SIGHUP): then it stays ignored.
void CatchStopSignals(void (*handler)(int));
// Ends the process as the stop signal would have without a handler (the shell sees 128 +
// signal; on Windows the exit status of a console program stopped by Ctrl-C).
[[noreturn]] void EndAsStopped(int signal);

} // namespace Platform
