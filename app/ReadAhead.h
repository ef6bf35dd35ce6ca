// Advice to the kernel about the files a batch reads next, so that their pages are on their way
// from the disk while the files before them are converted. Only advice: each file is still
// opened and read at its own turn, so a file replaced meanwhile (an earlier file's save) is read
// as it is then.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How many files after the one being converted are advised: enough to keep a disk busy while
// short files are converted one by one.
inline constexpr std::size_t kFilesReadAhead = 16;

// Called as the file at index starts: asks the kernel to read the head of each of the
// kFilesReadAhead files after it that no earlier call asked for. A path that is missing, no
// regular file or unreadable is passed over without a word; nothing is locked or held open.
void ReadAheadOf(const std::vector<std::string>& paths, std::size_t index);
