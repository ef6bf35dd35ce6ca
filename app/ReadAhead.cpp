#include "ReadAhead.h"

#include "Stream.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The kernel reads no more than its read-ahead window for one advice anyway; a larger file's
// load asks for the rest itself, a window at a time, as it converts.
constexpr off_t kAdvisedBytes = off_t{8} << 20;

void AdviseWillNeed(const std::string& path) {
    // Only a regular file is opened: opening a device can do something of its own. A FIFO put
    // in its place meanwhile opens at once all the same (O_NONBLOCK), and takes no advice.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file)
        (void)::posix_fadvise(file.get(), 0, kAdvisedBytes, POSIX_FADV_WILLNEED);
}

} // namespace

void ReadAheadOf(const std::vector<std::string>& paths, std::size_t index) {
    // The first call advises the whole window; each later one the file that enters it.
    const std::size_t first = index == 0 ? 1 : index + kFilesReadAhead;
    const std::size_t end = std::min(paths.size(), index + kFilesReadAhead + 1);
    for (std::size_t k = first; k < end; ++k)
        AdviseWillNeed(paths[k]);
}
