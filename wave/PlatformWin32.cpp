// The Windows side of the platform interface. Texts are UTF-8 inside the program and UTF-16
// at every system call.
#include "Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <vector>

namespace Platform {
namespace {

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

} // namespace

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
    return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

} // namespace Platform
