// The test helpers on Windows: UTF-8 paths through the standard library, and child programs
// started with CreateProcessW.
#include "TestSupport.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

const char kSeparator[] = "\\";
const bool kPosix = false;

// An absolute path goes behind "\\?\", as the program's own file calls do: a name keeps its
// trailing dots and spaces.
fs::path FileSystemPath(const std::string& path) {
    const fs::path given(std::u8string(path.begin(), path.end()));
    if (!given.has_root_name() || !given.has_root_directory() || path.rfind("\\\\", 0) == 0)
        return given;
    std::wstring text = given.wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return fs::path(L"\\\\?\\" + text);
}

std::string Utf8Name(const fs::path& name) {
    const std::u8string text = name.u8string();
    return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
    std::mt19937_64 pick{std::random_device{}()};
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("tessaly-test-" + std::to_string(pick() % 1000000000));
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            Path = Utf8Name(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

std::vector<std::string> NonRegularFiles(const std::string& folder) {
    return {folder, "NUL"};
}

ExclusiveHold::ExclusiveHold(const std::string& path)
    : Native(reinterpret_cast<std::intptr_t>(CreateFileW(FileSystemPath(path).c_str(), GENERIC_READ,
                                                         0, nullptr, OPEN_EXISTING,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr))) {
    if (reinterpret_cast<HANDLE>(Native) == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot hold " + path);
}

ExclusiveHold::~ExclusiveHold() {
    CloseHandle(reinterpret_cast<HANDLE>(Native));
}

namespace {

std::wstring Wide(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end())).wstring();
}

// One argument as the C runtime's parser reads it back: quoted, with backslashes doubled
// before a quote and at the end.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// A temporary file the child inherits as its output; read back and removed afterwards.
class Capture {
public:
    Capture() {
        wchar_t folder[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, folder);
        GetTempFileNameW(folder, L"out", 0, Name);
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        Handle = CreateFileW(Name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    }
    ~Capture() {
        CloseHandle(Handle);
        DeleteFileW(Name);
    }
    std::string Text() const {
        std::string text;
        SetFilePointer(Handle, 0, nullptr, FILE_BEGIN);
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(Handle, buffer, sizeof buffer, &n, nullptr) && n > 0)
            text.append(buffer, n);
        return text;
    }
    HANDLE Handle;

private:
    wchar_t Name[MAX_PATH + 1];
};

} // namespace

RunResult RunProgram(const std::vector<std::string>& argv) {
    std::wstring commandLine;
    for (const std::string& argument : argv)
        commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(Wide(argument));
    Capture out, err;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.Handle;
    startup.hStdError = err.Handle;
    PROCESS_INFORMATION process{};
    RunResult result;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return result;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.ExitCode = static_cast<int>(code);
    result.Out = out.Text();
    result.Err = err.Text();
    return result;
}

bool HaveProgram(const std::string& name) {
    wchar_t found[MAX_PATH];
    return SearchPathW(nullptr, Wide(name).c_str(), L".exe", MAX_PATH, found, nullptr) != 0;
}

std::uint64_t MemoryInUse() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
}

bool MapsFileNamed(const std::string& name) {
    const std::wstring tail = L"\\" + Wide(name);
    MEMORY_BASIC_INFORMATION region{};
    for (auto* at = static_cast<std::uint8_t*>(nullptr);
         VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<std::uint8_t*>(region.BaseAddress) + region.RegionSize) {
        wchar_t file[MAX_PATH * 4];
        if (region.Type == MEM_MAPPED &&
            GetMappedFileNameW(GetCurrentProcess(), region.BaseAddress, file, MAX_PATH * 4) != 0 &&
            std::wstring_view(file).ends_with(tail))
            return true;
    }
    return false;
}

std::uint64_t PeakMemoryInUse() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}
