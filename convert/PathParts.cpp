#include "PathParts.h"

#include "Platform.h"

#include <cstdlib>

std::string FolderPart(const std::string& path) {
    return path.substr(0, Platform::FolderPartLength(path));
}

std::string FileNamePart(const std::string& path) {
    return path.substr(Platform::FolderPartLength(path));
}

std::string InFolder(const std::string& folder, const std::string& name) {
    return folder + Platform::PathSeparator() + name;
}

std::string ProgramFolder() {
    const std::string executable = Platform::ExecutablePath();
    return executable.empty() ? std::string(".") + Platform::PathSeparator()
                              : FolderPart(executable);
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
