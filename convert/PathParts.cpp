#include "PathParts.h"

#include "Platform.h"

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
    const std::string program = ProgramFolder();
    if (!HomeDestination && !Platform::InstalledByInstaller(program))
        return program;
    const std::string home = Platform::HomeFolder();
    return home.empty() ? std::string() : home + "TSL" + Platform::PathSeparator();
}
