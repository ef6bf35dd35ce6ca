// The Windows side of the platform interface. Texts are UTF-8 inside the program and UTF-16
// at every system call.
#include "Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <random>
#include <shellapi.h>

namespace Platform {
namespace {

HANDLE Handle(std::intptr_t file) {
    return reinterpret_cast<HANDLE>(file);
}

HANDLE Handle(const File& file) {
    return Handle(file.get());
}

File Own(HANDLE handle) {
    return File(handle == INVALID_HANDLE_VALUE ? File::kNone
                                               : reinterpret_cast<std::intptr_t>(handle));
}

std::wstring Wide(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const wchar_t* text, std::size_t count) {
    if (count == 0)
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

// The form every file call takes: the absolute path behind "\\?\" ("\\?\UNC\" for a share),
// which the system takes as it is. A name keeps its trailing dots and spaces, and a path may be
// longer than 260 characters. The folder part is made absolute and tidied ("..", "/", a drive's
// own current folder) by the system; the name is kept as given.
std::wstring SystemPath(const std::string& path) {
    const std::wstring wide = Wide(path);
    if (wide.empty() || wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    const auto full = [](const std::wstring& given) {
        std::wstring result(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = GetFullPathNameW(given.c_str(), static_cast<DWORD>(result.size()),
                                                  result.data(), nullptr);
            if (length == 0)
                return given;
            if (length < result.size()) {
                result.resize(length);
                return result;
            }
            result.resize(length);
        }
    };
    // A device ("NUL", "\\.\pipe\x") is left to the system's own reading.
    const std::wstring whole = full(wide);
    if (whole.rfind(L"\\\\.\\", 0) == 0)
        return whole;
    const std::size_t cut = wide.find_last_of(L"\\/:") + 1; // 0 when there is no folder part
    const std::wstring name = wide.substr(cut);
    std::wstring absolute = whole;
    if (name != L"." && name != L"..") {
        absolute = full(cut == 0 ? std::wstring(L".\\") : wide.substr(0, cut));
        if (!absolute.empty() && absolute.back() != L'\\')
            absolute += L'\\';
        absolute += name;
    }
    if (absolute.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    return L"\\\\?\\" + absolute;
}

// Whether name matches pattern, "*" standing for any run of characters and "?" for one,
// without regard to case as the file system compares names.
bool Matches(const wchar_t* pattern, const wchar_t* name) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name != L'\0') {
        if (*pattern == L'*') {
            star = ++pattern;
            resume = name;
        } else if (*pattern != L'\0' &&
                   (*pattern == L'?' ||
                    CompareStringOrdinal(pattern, 1, name, 1, TRUE) == CSTR_EQUAL)) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*')
        ++pattern;
    return *pattern == L'\0';
}

// The largest count handed to one ReadFile or WriteFile, whose counts are 32-bit.
constexpr std::uint64_t kMaxChunk = 1u << 30;

// Sharing nothing but deletion: no other program reads or writes the file while it is open,
// and a save may still replace it.
constexpr DWORD kExclusive = FILE_SHARE_DELETE;

std::string FolderOf(const std::string& path) {
    const std::size_t length = FolderPartLength(path);
    return length == 0 ? std::string(".\\") : path.substr(0, length);
}

// The signal each console event stands for: Ctrl-C and Ctrl-Break interrupt, a closed console,
// a logoff and a shutdown end the program.
int SignalOf(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return SIGINT;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return SIGTERM;
    default:
        return 0;
    }
}

void (*StopHandler)(int) = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signal = SignalOf(event);
    if (signal == 0 || StopHandler == nullptr)
        return FALSE;
    StopHandler(signal);
    // The system ends the process as soon as a close, logoff or shutdown handler returns, so
    // this one waits (the system allows a few seconds) for the program to give up the file in
    // hand and end itself.
    if (signal == SIGTERM)
        Sleep(INFINITE);
    return TRUE;
}

bool IsLocalHost(const std::string& host) {
    return host.empty() || host == "localhost";
}

// The registered path of an installed program (App Paths), the user's own registration first;
// empty when neither has one.
std::wstring RegisteredProgram(const std::wstring& exe) {
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exe;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DWORD size = 0;
        if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
                ERROR_SUCCESS ||
            size < sizeof(wchar_t))
            continue;
        std::wstring value(size / sizeof(wchar_t), L'\0');
        if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
            ERROR_SUCCESS)
            continue;
        value.resize(wcslen(value.c_str()));
        // Installers may register the path quoted.
        if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
            value = value.substr(1, value.size() - 2);
        if (!value.empty())
            return value;
    }
    return {};
}

// The shell carries out verb on file (with parameters when given), showing no message of its
// own when it cannot.
bool ShellExecute(const wchar_t* verb, const std::wstring& file, const std::wstring& parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOW;
    return ShellExecuteExW(&info) != FALSE;
}

} // namespace

// ---- Paths and folders

std::size_t FolderPartLength(const std::string& path) {
    // No byte of a multi-byte UTF-8 character is "\", "/" or ":".
    const auto end = path.find_last_of("\\/:");
    return end == std::string::npos ? 0 : end + 1;
}

char PathSeparator() {
    return '\\';
}

std::string ExecutablePath() {
    // A path longer than the buffer comes back cut short: the buffer grows until it fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return Narrow(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryW(SystemPath(path).c_str(), nullptr) != 0;
}

std::vector<std::string> ExpandWildcards(const std::string& argument) {
    const std::size_t cut = FolderPartLength(argument);
    const std::string folder = argument.substr(0, cut);
    const std::wstring pattern = Wide(argument.substr(cut));
    if (pattern.find_first_of(L"*?") == std::wstring::npos)
        return {argument};
    // "*.*" asks for every name, those without a dot too.
    const bool anyExtension = pattern.size() >= 2 && pattern.ends_with(L".*");
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search =
        FindFirstFileExW((SystemPath(folder.empty() ? std::string(".\\") : folder) + L"*").c_str(),
                         FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (Matches(pattern.c_str(), name.c_str()) ||
                 (anyExtension && Matches(pattern.c_str(), (name + L".").c_str()))))
                names.push_back(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (names.empty())
        return {argument};
    // The order of a listing of the folder: by name without regard to case, then with it.
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        const int order = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                               static_cast<int>(b.size()), TRUE);
        return order != CSTR_EQUAL ? order == CSTR_LESS_THAN : a < b;
    });
    std::vector<std::string> files;
    for (const std::wstring& name : names)
        files.push_back(folder + Narrow(name.data(), name.size()));
    return files;
}

std::string HomeFolder() {
    const wchar_t* home = _wgetenv(L"USERPROFILE");
    if (home == nullptr || FolderPartLength(Narrow(home, wcslen(home))) == 0)
        return {};
    std::string folder = Narrow(home, wcslen(home));
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder + '\\';
}

bool InstalledByInstaller(const std::string& programFolder) {
    return GetFileAttributesW(SystemPath(programFolder + "Uninstall.exe").c_str()) !=
           INVALID_FILE_ATTRIBUTES;
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
    return Native == kNone || CloseHandle(Handle(std::exchange(Native, kNone))) != 0;
}

File OpenLockedRegularFile(const std::string& path, std::uint64_t& size) {
    File file = Own(CreateFileW(SystemPath(path).c_str(), GENERIC_READ, kExclusive, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (!file || GetFileType(Handle(file)) != FILE_TYPE_DISK ||
        !GetFileSizeEx(Handle(file), &length))
        return File();
    size = static_cast<std::uint64_t>(length.QuadPart);
    return file;
}

void Unlock(const File&) {
    // The lock is the open's sharing mode: it goes with the handle.
}

bool SizeOf(const File& file, std::uint64_t& size) {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(Handle(file), &length))
        return false;
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

std::int64_t ReadOnce(const File& file, void* buffer, std::uint64_t count) {
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min(count, kMaxChunk));
    return ReadFile(Handle(file), buffer, ask, &n, nullptr) ? std::int64_t{n} : kFailed;
}

std::int64_t WriteOnce(const File& file, std::span<const std::span<const std::uint8_t>> pieces) {
    // WriteFile takes one piece; the caller hands the rest over again.
    const auto piece = pieces.empty() ? std::span<const std::uint8_t>() : pieces.front();
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min<std::uint64_t>(piece.size(), kMaxChunk));
    return WriteFile(Handle(file), piece.data(), ask, &n, nullptr) ? std::int64_t{n} : kFailed;
}

namespace {

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

} // namespace

std::int64_t WriteOnceAt(const File& file, std::uint64_t offset,
                         std::span<const std::uint8_t> bytes) {
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min<std::uint64_t>(bytes.size(), kMaxChunk));
    return WriteFile(Handle(file), bytes.data(), ask, &n, &at) ? std::int64_t{n} : kFailed;
}

std::int64_t ReadOnceAt(const File& file, std::uint64_t offset, void* buffer, std::uint64_t count) {
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    const auto ask = static_cast<DWORD>(std::min(count, kMaxChunk));
    if (ReadFile(Handle(file), buffer, ask, &n, &at))
        return std::int64_t{n};
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : kFailed;
}

void AdviseWillRead(const std::string&, std::uint64_t) {
    // Windows reads ahead of sequential reads and mapped views by itself.
}

// ---- The atomic save

bool FindReplaced(const std::string& path, ReplacedFile& replaced) {
    replaced.Target = path;
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    replaced.Exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!replaced.Exists)
        return true;
    // Only a regular file we may write is replaced: never a folder or a device, and never a
    // read-only file or one in use by another program.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE))
        return false;
    replaced.Lock =
        Own(CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kExclusive, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return replaced.Lock && GetFileType(Handle(replaced.Lock)) == FILE_TYPE_DISK;
}

File CreateSuccessor(const ReplacedFile& replaced, std::string& name) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 pick{std::random_device{}()};
    // Folder and name are joined as they are: FolderOf gives the folder with its separator.
    const std::string folder = FolderOf(replaced.Target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + ".tessaly-";
        for (int letter = 0; letter < 6; ++letter)
            candidate += kLetters[pick() % (sizeof kLetters - 1)];
        File file = Own(CreateFileW(SystemPath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            name = std::move(candidate);
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return File();
}

bool FlushToDisk(const File& file) {
    return FlushFileBuffers(Handle(file)) != 0;
}

bool FlushRange(const File&, std::uint64_t, std::uint64_t) {
    // FlushFileBuffers flushes a file whole, and nothing flushes a part of it: FlushToDisk
    // does it all.
    return true;
}

FlushSteps FlushStepsOf(const File&) {
    return FlushSteps::None;
}

bool PutInPlace(const std::string& name, ReplacedFile& replaced) {
    // An open file cannot be replaced: the lock goes first. ReplaceFileW gives the successor
    // the replaced file's attributes and security, as a save over a file keeps them.
    replaced.Lock.Close();
    const std::wstring from = SystemPath(name), to = SystemPath(replaced.Target);
    if (replaced.Exists && ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void FlushFolderOf(const std::string&) {
    // MOVEFILE_WRITE_THROUGH and the file system's journal make the replace durable.
}

void RemoveFile(const std::string& path) {
    DeleteFileW(SystemPath(path).c_str());
}

bool MappedFilesBlockReplace() {
    return true;
}

bool KeyOf(std::intptr_t file, FileKey& key) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(Handle(file), &information))
        return false;
    key = {information.dwVolumeSerialNumber,
           (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
    return true;
}

// ---- Memory

std::uint64_t PageSize() {
    static const std::uint64_t size = [] {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        return static_cast<std::uint64_t>(info.dwPageSize);
    }();
    return size;
}

std::uint8_t* AllocatePages(std::uint64_t size) {
    return static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

std::uint8_t* MapFile(std::intptr_t file, std::uint64_t size) {
    HANDLE mapping = CreateFileMappingW(Handle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr)
        return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
    // The view keeps the file mapped; the mapping's handle is not needed any more.
    CloseHandle(mapping);
    return static_cast<std::uint8_t*>(view);
}

void ReleasePages(std::uint8_t* first, std::uint64_t length) {
    // Part of a view cannot be unmapped; pages of a private allocation are given back.
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(first, &info, sizeof info) != 0 && info.Type == MEM_PRIVATE)
        VirtualFree(first, static_cast<SIZE_T>(length), MEM_DECOMMIT);
}

void FreePages(std::uint8_t* base, std::uint64_t) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(base, &info, sizeof info) == 0)
        return;
    if (info.Type == MEM_MAPPED)
        UnmapViewOfFile(info.AllocationBase);
    else
        VirtualFree(info.AllocationBase, 0, MEM_RELEASE);
}

bool WatchShrinking(std::intptr_t, File& watched) {
    // A file that is mapped cannot be shortened on Windows.
    watched = File();
    return true;
}

bool StillCovers(const File&, std::uint64_t) {
    return true;
}

void AdviseWillNeed(std::uint8_t*, std::uint64_t) {
    // Windows reads ahead of a view that is read in order by itself.
}

double CachedShare(std::uint8_t*, std::uint64_t) {
    // Windows does not tell which pages of a file its cache holds.
    return 1;
}

void PrefaultPages(std::uint8_t*, std::uint64_t) {}

void DiscardPages(std::uint8_t* first, std::uint64_t length) {
    // Unlocking pages that are not locked takes them out of the working set; they stay in the
    // cache, as read.
    VirtualUnlock(first, static_cast<SIZE_T>(length));
}

// ---- The desktop

std::string FileUrlPath(const std::string& host, const std::string& path) {
    std::string local = path;
    // "/C:/a.wav": the slash before the drive is the URL's, not the path's.
    if (IsLocalHost(host) && local.size() >= 3 && local[0] == '/' && local[2] == ':' &&
        std::isalpha(static_cast<unsigned char>(local[1])))
        local.erase(0, 1);
    else if (!IsLocalHost(host))
        local = "//" + host + local;
    std::replace(local.begin(), local.end(), '/', '\\');
    return local;
}

bool OpenInSoundEditor(const std::string& path) {
    const std::wstring file = Wide(path);
    // One argument, whatever spaces the path holds; no path on Windows holds a quote.
    const std::wstring audacity = RegisteredProgram(L"audacity.exe");
    if (!audacity.empty() && ShellExecute(L"open", audacity, L"\"" + file + L"\""))
        return true;
    return ShellExecute(L"edit", file, {}) || ShellExecute(L"open", file, {});
}

// ---- Process

std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int k = 0; k < count; ++k)
        arguments.push_back(Narrow(wide[k], wcslen(wide[k])));
    LocalFree(wide);
    return arguments;
}

void PrepareWindowProcess() {
    // Windows has no file-size limit signal, and the window no console.
}

namespace {

// The console's output code page and mode before PrepareProcess changed them; 0 with no
// console. (The input code page is never changed.)
UINT OutputCodePage = 0;
DWORD ErrorMode = 0;

// Other programs of the console go on showing their text by its own code page and mode: they
// are given back before the process ends, whichever way it ends.
void RestoreConsole() {
    if (OutputCodePage != 0)
        SetConsoleOutputCP(OutputCodePage);
    if (ErrorMode != 0)
        SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), ErrorMode);
}

} // namespace

void PrepareProcess() {
    OutputCodePage = GetConsoleOutputCP();
    std::atexit(RestoreConsole);
    SetConsoleOutputCP(CP_UTF8);
    // The counter on standard error rewrites its line with escape sequences.
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode) &&
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        ErrorMode = mode;
    // Bytes go out as they are: no "\n" becomes "\r\n" in a row or a name.
    _setmode(_fileno(stdout), 0x8000 /* _O_BINARY */);
}

void MarkRunning(const std::string& programFolder) {
    // The name windows/installer.nsi looks for. Only installed copies hold it: a portable copy
    // running elsewhere is none of the installer's business. The handle is the process's to
    // its end, when the system closes it.
    if (InstalledByInstaller(programFolder))
        CreateMutexW(nullptr, FALSE, L"Local\\Tessaly.Installed.Running");
}

Terminal ErrorTerminal() {
    // A console, not just any character device: NUL is one too.
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode))
        return Terminal::None;
    return mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING ? Terminal::Escapes : Terminal::Plain;
}

bool WriteToConsole(std::FILE* stream, const std::string& text) {
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode))
        return false;
    // The C runtime hands a console its bytes in pieces, down to single bytes, and a character
    // cut in two shows as two wrong ones: the text goes in one call, as UTF-16.
    const std::wstring wide = Wide(text);
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return true;
}

void CatchStopSignals(void (*handler)(int)) {
    StopHandler = handler;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void EndAsStopped(int) {
    std::fflush(stdout);
    // ExitProcess runs no exit handlers.
    RestoreConsole();
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

} // namespace Platform
