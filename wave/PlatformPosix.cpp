// The POSIX side of the platform interface (Linux).
#include "Platform.h"

#include <filesystem>

namespace Platform {

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

} // namespace Platform
