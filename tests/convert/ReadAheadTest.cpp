// The read-ahead: which files each start advises, and a lookup that hangs delaying nobody.
#include "ReadAhead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Lists of every length up to past two windows, with their last file at every position of the
// window: each later file is advised once, within the window, and nothing past the end.
TEST(ReadAhead, AdvisesEachLaterFileOnceWithinTheWindowAndNothingPastTheEnd) {
    for (std::size_t count = 1; count <= 2 * kFilesReadAhead + 2; ++count) {
        std::vector<int> advised(count, 0);
        for (std::size_t index = 0; index < count; ++index) {
            const auto [first, end] = FilesToAdvise(count, index);
            ASSERT_LE(end, count) << count << " files, at " << index;
            for (std::size_t k = first; k < end; ++k) {
                EXPECT_GT(k, index);
                EXPECT_LE(k, index + kFilesReadAhead);
                ++advised[k];
            }
        }
        EXPECT_EQ(advised[0], 0);
        for (std::size_t k = 1; k < count; ++k)
            EXPECT_EQ(advised[k], 1) << count << " files, file " << k;
    }
}

// A path whose lookup hangs (a network folder that went away) holds up only the advising
// thread: every start returns while the lookup still hangs. No more than a window's worth wait
// meanwhile, the oldest given up: once the lookup returns, the newest files are advised.
TEST(ReadAhead, ALookupThatHangsDelaysNoStartAndTheNewestWait) {
    auto release = std::make_shared<std::promise<void>>();
    const std::shared_future<void> released = release->get_future().share();
    auto lookingUp = std::make_shared<std::promise<void>>();
    struct Advised {
        std::mutex Lock;
        std::condition_variable Changed;
        std::vector<std::string> Paths;
    };
    auto advised = std::make_shared<Advised>();
    ReadAhead readAhead([=](const std::string& path) {
        std::unique_lock lock(advised->Lock);
        advised->Paths.push_back(path);
        advised->Changed.notify_all();
        if (advised->Paths.size() == 1) {
            lock.unlock();
            lookingUp->set_value();
            released.wait();
        }
    });
    std::vector<std::string> paths;
    for (int k = 0; k < 40; ++k)
        paths.push_back(std::to_string(k));
    readAhead.Starting(paths, 0);
    lookingUp->get_future().wait();
    for (std::size_t index = 1; index <= 10; ++index)
        readAhead.Starting(paths, index);
    EXPECT_EQ(released.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    release->set_value();
    std::vector<std::string> expected = {"1"};
    for (int k = 11; k <= 26; ++k) // the window after file 10
        expected.push_back(std::to_string(k));
    std::unique_lock lock(advised->Lock);
    advised->Changed.wait_for(lock, std::chrono::seconds(20),
                              [&] { return advised->Paths.size() >= expected.size(); });
    EXPECT_EQ(advised->Paths, expected);
}

// Each start wakes the advising thread for the file that enters the window, however long the
// batch; and once the batch ends, the thread ends too (it holds its copy of the advice).
TEST(ReadAhead, EveryQueuedFileIsAdvisedAndTheThreadEndsWithTheBatch) {
    struct Advised {
        std::mutex Lock;
        std::condition_variable Changed;
        std::size_t Count = 0;
    };
    auto advised = std::make_shared<Advised>();
    const std::weak_ptr<Advised> held = advised;
    {
        ReadAhead readAhead([advised](const std::string&) {
            const std::lock_guard lock(advised->Lock);
            ++advised->Count;
            advised->Changed.notify_all();
        });
        const std::vector<std::string> paths(3 * kFilesReadAhead, "any.wav");
        for (std::size_t index = 0; index + kFilesReadAhead + 1 < paths.size(); ++index) {
            readAhead.Starting(paths, index);
            std::unique_lock lock(advised->Lock);
            ASSERT_TRUE(advised->Changed.wait_for(
                lock, std::chrono::seconds(20),
                [&] { return advised->Count == index + kFilesReadAhead; }))
                << "file " << index + kFilesReadAhead << " not advised";
        }
    }
    advised.reset();
    for (int wait = 0; wait < 2000 && !held.expired(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(held.expired()) << "the advising thread outlived its batch";
}

} // namespace
