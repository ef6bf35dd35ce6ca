// Advice to the kernel about the files a batch reads next, so that their pages are on their way
// from the disk while the files before them are converted. Only advice: each file is still
// opened and read at its own turn, so a file replaced meanwhile (an earlier file's save) is read
// as it is then. The advice is given on a thread of its own, so a path that is slow to look up
// (a hung network folder) delays nobody but that file's own turn.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// How many files after the one being converted are advised: enough to keep a disk busy while
// short files are converted one by one.
inline constexpr std::size_t kFilesReadAhead = 16;

// The indexes of the files to advise as the file at index of count starts: the whole window
// after it the first time, then the one file that enters the window; never past the end.
std::pair<std::size_t, std::size_t> FilesToAdvise(std::size_t count, std::size_t index);

// Asks the kernel to read the head of path: a missing, unreadable or irregular file is passed
// over without a word, and nothing is locked or held open.
void AdviseWillNeed(const std::string& path);

class ReadAhead {
public:
    using Advice = std::function<void(const std::string& path)>;

    explicit ReadAhead(Advice advise = AdviseWillNeed);
    // Ends the advice without waiting for a lookup in hand: its thread finishes on its own.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Called as the file at index starts: hands the files FilesToAdvise names to the advising
    // thread and returns at once. Files whose turn has come by the time the thread reaches them
    // are skipped, and no more than kFilesReadAhead wait.
    void Starting(const std::vector<std::string>& paths, std::size_t index);

private:
    struct Queue;
    std::shared_ptr<Queue> Shared;
    Advice Advise;
};
