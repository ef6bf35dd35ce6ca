#include "PathParts.h"

#include <cstdlib>
#include <filesystem>

// Paths are UTF-8, where no byte of a multi-byte character equals "/", so a byte search is a
// search by character.

std::string FolderPart(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNamePart(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ProgramFolder() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("./") : FolderPart(executable.string());
}

std::string WavesParentFolder() {
    if (!HomeDestination)
        return ProgramFolder();
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return {};
    std::string folder = home;
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return folder + "/TSL/";
}
