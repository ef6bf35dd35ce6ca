// Splitting paths into folder and file name, and the program's own folder.
#pragma once

#include <string>

// The text up to and including the last "/" (on Windows the last "\", "/" or drive ":"), or
// empty when there is none.
std::string FolderPart(const std::string& path);
// The text after the folder part, or the whole path when there is none.
std::string FileNamePart(const std::string& path);
// name inside folder, joined with the system's separator ("/", on Windows "\").
std::string InFolder(const std::string& folder, const std::string& name);
// The folder of the running executable, ending in its separator.
std::string ProgramFolder();

// Whether this build is made for installation: its program folder (/usr/bin) is not the user's
// to write, so the "Waves" destination moves to $HOME/TSL/.
inline constexpr bool HomeDestination = TESSALY_HOME_DESTINATION;

// The folder that holds the "Waves" destination, ending in its separator: the program's folder,
// or, with HomeDestination or for a copy the installer put in place, the home folder's TSL
// ($HOME/TSL/, %USERPROFILE%\TSL\), which conversions make when missing. Empty when the home
// folder is not known: then there is nowhere to save.
std::string WavesParentFolder();
