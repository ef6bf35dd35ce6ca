// Where tessaly-convert's n/N counter goes: to standard error only when that is a terminal, its
// line cleared at the end; never as escape codes into a file, whatever standard output is.
#include "ChildProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressCounter, AppearsOnlyOnATerminalAndIsClearedAtTheEnd) {
    TempDir in, out;
    WriteFileBytes(in / "a.wav", WaveImage({}, Samples16({1})));
    const std::string row = "a.wav|" + in.path() + "/|" + out.path() +
                            "/|変換完了|44100Hz 16Bit Mono|→44100Hz 16Bit Mono" + '\0';
    // Standard error on the terminal and output to a file, then the other way round; on a dumb
    // terminal, which shows escape sequences as text, spaces cover the count.
    const struct {
        bool ErrOnTerminal;
        std::string Term;
        std::string Err;
    } cases[] = {{true, "xterm", "\r1/2\r\033[K\r2/2\r\033[K"},
                 {false, "xterm", ""},
                 {true, "dumb", "\r1/2\r   \r\r2/2\r   \r"}};
    for (const auto& c : cases) {
        ChildOptions options;
        options.Env = {"TERM=" + c.Term};
        options.OutOnTerminal = !c.ErrOnTerminal;
        options.ErrOnTerminal = c.ErrOnTerminal;
        const ChildResult run = RunChild(
            {TESSALY_CONVERT, "--null", "--dir", out.path(), in / "a.wav", in / "a.wav"}, options);
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_EQ(c.ErrOnTerminal ? run.Terminal : run.Err, c.Err);
        EXPECT_EQ(c.ErrOnTerminal ? run.Out : run.Terminal, row + row);
    }
}

} // namespace
