// What tessaly-convert asks of the kernel, as strace sees it.
#include "ChildProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

// Each file of a batch after the first is advised for reading from its start, where a short
// file's load reads it.
TEST(KernelCalls, LaterFilesOfABatchAreAdvisedFromTheirStart) {
    TempDir in, out, logs;
    std::vector<std::string> args = {"/usr/bin/strace", "-f", "-qq",          "-e",
                                     "trace=fadvise64", "-o", logs / "trace", TESSALY_CONVERT,
                                     "--bits",          "16", "--dir",        out.path()};
    for (int n = 0; n < 8; ++n) {
        args.push_back(in / ("take" + std::to_string(n) + ".wav"));
        WriteFileBytes(args.back(), WaveImage({.Bits = 8}, Bytes(1u << 20, 0x80)));
    }
    // The leak checker does not work under ptrace.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const ChildResult run = RunChild(
        args, {.Env = {"ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0"}});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    std::ifstream trace(logs / "trace");
    int advised = 0;
    for (std::string line; std::getline(trace, line);)
        if (line.find("POSIX_FADV_WILLNEED") != std::string::npos) {
            ++advised;
            EXPECT_NE(line.find(", 0, 8388608, POSIX_FADV_WILLNEED"), std::string::npos) << line;
        }
    EXPECT_GT(advised, 0) << "no advice";
}

} // namespace
