#include "ReadAhead.h"

#include "Platform.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// The kernel reads no more than its read-ahead window for one advice anyway; a larger file's
// load asks for the rest itself, a window at a time, as it converts.
constexpr std::uint64_t kAdvisedBytes = std::uint64_t{8} << 20;

} // namespace

std::pair<std::size_t, std::size_t> FilesToAdvise(std::size_t count, std::size_t index) {
    const std::size_t first = index == 0 ? 1 : index + kFilesReadAhead;
    const std::size_t end = std::min(count, index + kFilesReadAhead + 1);
    return {std::min(first, end), end};
}

void AdviseWillNeed(const std::string& path) {
    Platform::AdviseWillRead(path, kAdvisedBytes);
}

// Shared by the batch and the advising thread, which may outlive the batch while a lookup hangs.
struct ReadAhead::Queue {
    std::mutex Lock;
    std::condition_variable Ready;
    std::deque<std::pair<std::size_t, std::string>> Waiting; // index and path
    std::size_t Current = 0;                                 // the file whose turn it is
    bool Closed = false;
    bool Running = false;

    void Serve(const Advice& advise) {
        std::unique_lock lock(Lock);
        for (;;) {
            Ready.wait(lock, [this] { return Closed || !Waiting.empty(); });
            if (Closed)
                return;
            auto [index, path] = std::move(Waiting.front());
            Waiting.pop_front();
            if (index <= Current)
                continue; // its own load reads it now
            lock.unlock();
            advise(path);
            lock.lock();
        }
    }
};

ReadAhead::ReadAhead(Advice advise)
    : Shared(std::make_shared<Queue>()), Advise(std::move(advise)) {}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(Shared->Lock);
        Shared->Closed = true;
    }
    Shared->Ready.notify_all();
}

void ReadAhead::Starting(const std::vector<std::string>& paths, std::size_t index) {
    const auto [first, end] = FilesToAdvise(paths.size(), index);
    bool start = false;
    {
        const std::lock_guard lock(Shared->Lock);
        Shared->Current = index;
        for (std::size_t k = first; k < end; ++k)
            Shared->Waiting.emplace_back(k, paths[k]);
        while (Shared->Waiting.size() > kFilesReadAhead)
            Shared->Waiting.pop_front();
        start = !Shared->Waiting.empty() && !Shared->Running;
        Shared->Running = Shared->Running || start;
    }
    // Advice is only a help: without a thread for it, there is none.
    if (start) {
        try {
            std::thread([queue = Shared, advise = Advise] { queue->Serve(advise); }).detach();
        } catch (const std::system_error&) {
        }
    }
    Shared->Ready.notify_one();
}
