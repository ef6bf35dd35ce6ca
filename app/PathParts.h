// Splitting paths into folder and file name, and the program's own folder.
#pragma once

#include <string>

// The text up to and including the last "/", or empty when there is none.
std::string FolderPart(const std::string& path);
// The text after the last "/", or the whole path when there is none.
std::string FileNamePart(const std::string& path);
// The folder of the running executable, ending in "/".
std::string ProgramFolder();
