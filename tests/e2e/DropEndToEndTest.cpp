// The real window on a real X server, files dropped on it by another program speaking XDND:
// every drop arrives exactly once and in order, also one made while a batch runs, and the
// progress panel is on the screen whole while files are converted. And the window as a native
// client of a Wayland compositor, with files dropped on it from a Wayland drag source.
#include "DesignFont.h"
#include "TestSupport.h"
#include "Unit1.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Generous: a slow machine under the sanitizers must not fail, a lost drop still does.
const auto Patience = 120s;
// For a program to end once asked to: a step of work, and the sanitizers' checks at the exit.
const auto StopPatience = 30s;

// A program running beside the test, talked to in lines through its standard input and output;
// stopped when the test ends.
class Companion {
public:
    explicit Companion(std::vector<std::string> argv) {
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        // Close-on-exec, so that no other companion inherits this one's pipes.
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        Pid = fork();
        if (Pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        Input = in[1];
        Output = out[0];
    }
    ~Companion() {
        close(Input);
        close(Output);
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            // One that outlives its stop is killed: the test has failed already, and ends.
            if (AwaitExit(10s) == -1) {
                kill(Pid, SIGKILL);
                waitpid(Pid, nullptr, 0);
            }
        }
    }

    void Signal(int number) { kill(Pid, number); }
    // Sends the signal again once it has been taken: two sent back to back would be one.
    void SignalTwice(int number) {
        Signal(number);
        for (int wait = 0; wait < 5000 && SignalPending(Pid, number); ++wait)
            usleep(1000);
        Signal(number);
    }
    // Its wait status once it has ended, or -1 if it is still running after patience.
    int AwaitExit(std::chrono::seconds patience = Patience) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        int status = -1;
        while (waitpid(Pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            usleep(10000);
        }
        Pid = -1;
        return status;
    }

    // One line of its output, or "timeout".
    std::string Ask(const std::string& line) {
        const std::string request = line + "\n";
        if (write(Input, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            return "write failed";
        return ReadLine();
    }
    std::string ReadLine() {
        std::string line;
        pollfd ready{Output, POLLIN, 0};
        for (char c;
             poll(&ready, 1, static_cast<int>(Patience / 1ms)) == 1 && read(Output, &c, 1) == 1;) {
            if (c == '\n')
                return line;
            line += c;
        }
        return "timeout";
    }

private:
    pid_t Pid;
    int Input, Output;
};

// The names of the files renamed into a folder, in the order they arrived there: a save writes a
// temporary file and renames it over the destination once it is whole.
class RenameWatch {
public:
    explicit RenameWatch(const std::string& folder) : Inotify(inotify_init1(IN_NONBLOCK)) {
        inotify_add_watch(Inotify, folder.c_str(), IN_MOVED_TO);
    }
    ~RenameWatch() { close(Inotify); }

    // Waits until at least count names have arrived; returns all that have.
    const std::vector<std::string>& AwaitCount(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        while (Names.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{Inotify, POLLIN, 0};
            poll(&ready, 1, 1000);
            Read();
        }
        return Names;
    }
    const std::vector<std::string>& Arrived() {
        Read();
        return Names;
    }
    std::size_t Count() { return Arrived().size(); }

private:
    void Read() {
        alignas(inotify_event) char buffer[65536];
        for (ssize_t got; (got = read(Inotify, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                Names.emplace_back(event->name);
                at += sizeof(inotify_event) + event->len;
            }
    }

    int Inotify;
    std::vector<std::string> Names;
};

// An X server of its own for the test, on a display number it picks itself.
class XServer {
public:
    XServer()
        : Server({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}) {
        Display = ":" + Server.ReadLine();
        setenv("DISPLAY", Display.c_str(), 1);
    }
    std::string Display;

private:
    Companion Server;
};

// A file URL with every byte but the unreserved ones percent-encoded, as file managers send.
std::string FileUrl(const std::string& path) {
    static const char* Hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (const unsigned char c : path)
        if (std::isalnum(c) || std::strchr("/-._~", c))
            url += static_cast<char>(c);
        else
            url += {'%', Hex[c >> 4], Hex[c & 15]};
    return url;
}

class DropEndToEnd : public ::testing::Test {
protected:
    // Waits for the window and aims drops at the middle of its list.
    void LocateWindow() {
        const std::string window = Peer.Ask("window Tessaly Ver 1.1");
        ASSERT_EQ(std::sscanf(window.c_str(), "%d %d", &Origin.rx(), &Origin.ry()), 2) << window;
        DropPoint = At(QPoint(300, 300));
    }
    std::string At(QPoint point) const {
        return std::to_string(Origin.x() + point.x()) + " " +
               std::to_string(Origin.y() + point.y());
    }
    // Writes short waves named name + number and returns their names.
    std::vector<std::string> WriteWaves(const std::string& name, int count, std::size_t bytes) {
        std::vector<std::string> names;
        for (int n = 1; n <= count; ++n) {
            names.push_back(name + std::to_string(n) + ".wav");
            WriteFileBytes(Sources / names.back(), WaveImage({.Channels = 2}, Bytes(bytes, 7)));
        }
        return names;
    }
    // How the window took the drop, and how often it asked for the files: "copy 1".
    std::string Drag(const std::vector<std::string>& names) {
        std::string command = "drag " + DropPoint;
        for (const std::string& name : names)
            command += " " + FileUrl(Sources / name);
        Expected.insert(Expected.end(), names.begin(), names.end());
        return Peer.Ask(command);
    }
    void ExpectEveryDropOnceInOrder() { EXPECT_EQ(Watch.AwaitCount(Expected.size()), Expected); }

    // A copy of the program in a folder of its own, so that its "Waves" folder is the test's.
    std::string CopyProgram() {
        fs::copy_file(TESSALY_WINDOW, Program / "tessaly");
        fs::create_directory(Program / "Waves");
        return Program / "Waves";
    }
    // The copy, started with WindowEnvironment added to the test's own.
    std::vector<std::string> WindowCommand() {
        std::vector<std::string> command = {"env"};
        command.insert(command.end(), WindowEnvironment.begin(), WindowEnvironment.end());
        command.push_back(Program / "tessaly");
        return command;
    }
    static std::vector<std::string> WindowEnvironment;

    XServer Server;
    TempDir Program, Sources;
    RenameWatch Watch{CopyProgram()};
    Companion Window{WindowCommand()};
    Companion Peer{{TESSALY_XPEER}};
    QPoint Origin;
    std::string DropPoint;
    std::vector<std::string> Expected;
};

QRect BoundsOf(const QImage& image, const std::function<bool(QRgb)>& wanted) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (wanted(image.pixel(x, y)))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

std::vector<std::string> DropEndToEnd::WindowEnvironment;

// The progress panel's caption bar as the screen shows it, whole.
QRect CaptionBar(const QImage& shot) {
    const QRgb caption = qRgb(0, 0, 128);
    return BoundsOf(shot, [&](QRgb pixel) { return pixel == caption; });
}

// The dark ink of the counter's row, right of the progress bar, up to the panel's inner edge.
QRect CounterInk(const QImage& shot, const QRect& bar) {
    const QRect row(bar.left() + 110, bar.top() + 25, 130, 12);
    return BoundsOf(shot.copy(row),
                    [](QRgb p) { return qRed(p) < 100 && qGreen(p) < 100 && qBlue(p) < 100; });
}

// The narrowest ink of a count from 100 up: a cut counter is narrower.
int NarrowestThreeDigitCounter(std::size_t total) {
    return QFontMetrics(DesignFont()).boundingRect(QStringLiteral("111/%1").arg(total)).width() - 2;
}

// The progress panel as the screen shows it: its caption bar whole and carrying its text, and
// the counter whole, at least as wide as a text of a three-digit count over the total.
void ExpectWholeProgressPanel(const QImage& shot, std::size_t total) {
    const QRect bar = CaptionBar(shot);
    ASSERT_EQ(bar.size(), QSize(239, 16)) << "caption bar";
    int text = 0;
    for (int y = bar.top(); y <= bar.bottom(); ++y)
        for (int x = bar.left(); x <= bar.right(); ++x)
            text += qBlue(shot.pixel(x, y)) > 128 && qRed(shot.pixel(x, y)) > 64;
    EXPECT_GT(text, 100) << "caption text";
    // The panel's border above the caption has the colour of the panel below it.
    const QRgb panel = shot.pixel(bar.left() + 1, bar.bottom() + 2);
    for (int x = bar.left(); x <= bar.right(); ++x)
        ASSERT_EQ(shot.pixel(x, bar.top() - 1), panel) << "top edge at " << x;

    // The counter's row, right of the progress bar, up to the panel's inner edge.
    const QRect row(bar.left() + 110, bar.top() + 25, 130, 12);
    const QRect ink = CounterInk(shot, bar);
    EXPECT_GE(ink.width(), NarrowestThreeDigitCounter(total)) << "counter cut";
    EXPECT_NEAR(row.left() + ink.right(), bar.left() + 235, 3) << "counter's right edge";
}

TEST_F(DropEndToEnd, EveryDropArrivesOnceInOrderAndThePanelIsPaintedWhole) {
    ASSERT_NO_FATAL_FAILURE(LocateWindow());
    const int x = Origin.x(), y = Origin.y();

    for (int drop = 1; drop <= 30; ++drop) {
        ASSERT_EQ(Drag(WriteWaves("drop" + std::to_string(drop) + "-", 2, 4)), "copy 1");
        Watch.AwaitCount(Expected.size());
    }
    ExpectEveryDropOnceInOrder();

    // A long batch, not the first one: a screenshot and another drop are made while it runs.
    const std::size_t total = 1000, before = Expected.size();
    ASSERT_EQ(Drag(WriteWaves("long-", static_cast<int>(total), 88200)), "copy 1");
    // The screen is brought up to date once a frame, so it lags the disk by as many files as a
    // loaded (or instrumented) machine lets pass: well past 100 on the disk, the shot is taken
    // again until the counter shows three digits.
    Watch.AwaitCount(before + 200);
    QImage shot;
    for (int tries = 0; tries < 50; ++tries) {
        ASSERT_EQ(Peer.Ask("grab " + std::to_string(x) + " " + std::to_string(y) + " 714 525 " +
                           (Sources / "shot.ppm")),
                  "ok");
        shot = QImage(QString::fromStdString(Sources / "shot.ppm"));
        const QRect bar = CaptionBar(shot);
        if (bar.isValid() && CounterInk(shot, bar).width() >= NarrowestThreeDigitCounter(total))
            break;
    }
    EXPECT_EQ(Drag(WriteWaves("during-", 2, 4)), "copy 1");
    EXPECT_LT(Watch.Count(), before + total) << "the batch ended before the drop";
    ExpectWholeProgressPanel(shot, total);
    ExpectEveryDropOnceInOrder();

    // Names as Linux allows them: the path's bytes reach the file system unchanged.
    const std::vector<std::string> odd = {"bar|x.wav", "arrow→.wav", "new\nline.wav",
                                          "\x83\x65\x83\x58\x83\x67.wav", "caf\xe9.wav"};
    for (const std::string& name : odd)
        WriteFileBytes(Sources / name, WaveImage({}, Bytes(4, 0)));
    EXPECT_EQ(Drag(odd), "copy 1");
    ExpectEveryDropOnceInOrder();
}

// The sample width a written wave declares.
int BitsOf(const std::string& path) {
    const std::vector<unsigned char> image = ReadFileBytes(path);
    return image.size() > 34 ? image[34] : -1;
}

// A click made during a batch waits for its end, and takes effect where it was made, before the
// drops that waited, which then run in the order they came.
TEST_F(DropEndToEnd, AClickDuringABatchTakesEffectBeforeTheDropsThatWaited) {
    ASSERT_NO_FATAL_FAILURE(LocateWindow());
    // Away from the screen's corner, the window's and the screen's coordinates differ.
    ASSERT_EQ(Peer.Ask("move " + DropPoint + " 150 100"), "ok");
    ASSERT_NO_FATAL_FAILURE(LocateWindow());
    ASSERT_EQ(Origin, QPoint(150, 100));
    // Where the window's layout puts the "8Bit" choice, laid out off the screen.
    TForm1 layout;
    layout.show();
    const auto* eightBit = layout.findChild<QWidget*>("RadioButton8");
    const QPoint indicator = eightBit->mapTo(&layout, QPoint(6, eightBit->height() / 2));

    const std::vector<std::string> batch = WriteWaves("long-", 1000, 88200);
    ASSERT_EQ(Drag(batch), "copy 1");
    Watch.AwaitCount(100);
    const std::vector<std::string> first = WriteWaves("first-", 2, 4);
    ASSERT_EQ(Drag(first), "copy 1");
    ASSERT_EQ(Peer.Ask("click " + At(indicator)), "ok");
    const std::vector<std::string> second = WriteWaves("second-", 2, 4);
    ASSERT_EQ(Drag(second), "copy 1");
    EXPECT_LT(Watch.Count(), batch.size()) << "the batch ended before the click";
    ExpectEveryDropOnceInOrder();
    for (const std::string& name : batch)
        ASSERT_EQ(BitsOf(Program / ("Waves/" + name)), 16) << name;
    for (const auto& drop : {first, second})
        for (const std::string& name : drop)
            EXPECT_EQ(BitsOf(Program / ("Waves/" + name)), 8) << name;
}

// Closed by its close button, a logout's SIGHUP or a kill's SIGTERM during a long batch, the
// window finishes or gives up the file in hand, forgets the drop that waited, and ends: every
// file written is whole, and none is left half written under another name.
class StopDuringBatch : public DropEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(StopDuringBatch, EndsAfterTheFileInHandLeavingOnlyWholeFiles) {
    ASSERT_NO_FATAL_FAILURE(LocateWindow());
    const std::vector<std::string> batch = WriteWaves("long-", 2000, 88200);
    ASSERT_EQ(Drag(batch), "copy 1");
    Watch.AwaitCount(100);
    ASSERT_EQ(Drag(WriteWaves("waiting-", 2, 4)), "copy 1");
    if (GetParam() == 0)
        ASSERT_EQ(Peer.Ask("close " + At(QPoint(10, 10))), "ok");
    else // a second one, while it stops, changes nothing
        Window.SignalTwice(GetParam());

    const int status = Window.AwaitExit(StopPatience);
    ASSERT_NE(status, -1) << "the window outlived the stop";
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<std::string> arrived = Watch.Arrived();
    ASSERT_LT(arrived.size(), batch.size());
    EXPECT_EQ(arrived, std::vector<std::string>(batch.begin(), batch.begin() + arrived.size()));
    std::sort(arrived.begin(), arrived.end());
    EXPECT_EQ(ListFolder(Program / "Waves"), arrived);
    // The same samples, with the format chunk written in its 18-byte form.
    for (const std::string& name : arrived)
        ASSERT_EQ(fs::file_size(Program / ("Waves/" + name)), fs::file_size(Sources / name) + 2)
            << name;
}

// The lines of the interposer's log that begin with what.
std::vector<std::string> LogLines(const std::string& log, const std::string& what) {
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(what))
            lines.push_back(line);
    return lines;
}

// A slow disk: each write to a file held up 40 ms (a USB stick's pace), and a flush paying
// 100 ms for each MiB not yet flushed (10 MiB a second). The interposer notes each write and
// flush in Log.
class SlowDisk : public DropEndToEnd {
protected:
    static void SetUpTestSuite() {
        Logs.emplace();
        const char* asan = std::getenv("ASAN_OPTIONS");
        WindowEnvironment = {
            std::string("LD_PRELOAD=") + FAULT_INJECTION_LIBRARY, "TESSALY_SLOW_WRITE_MS=40",
            "TESSALY_SLOW_FLUSH_MS_PER_MIB=100", "TESSALY_FAULT_LOG=" + Log(),
            "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0"};
    }
    static void TearDownTestSuite() {
        WindowEnvironment.clear();
        Logs.reset();
    }
    static std::string Log() { return *Logs / "faults"; }
    static std::optional<TempDir> Logs;
};

std::optional<TempDir> SlowDisk::Logs;

// A long file, after a short one: while it is saved the window answers the desktop, shows the
// short file's row and its panel, and its bar moves; a close request gives the long file up
// within a step, and nothing of it is left.
TEST_F(SlowDisk, ALongFileKeepsTheWindowAliveAndACloseGivesItUpWithinAStep) {
    ASSERT_NO_FATAL_FAILURE(LocateWindow());
    WriteFileBytes(Sources / "short.wav", WaveImage({.Channels = 2}, Bytes(4, 7)));
    WriteFileBytes(Sources / "long.wav", WaveImage({.Channels = 2}, Bytes(512u << 20, 7)));
    ASSERT_EQ(Drag({"short.wav", "long.wav"}), "copy 1");
    ASSERT_EQ(Watch.AwaitCount(1).size(), 1u);

    const std::string panel = std::to_string(Origin.x()) + " " + std::to_string(Origin.y()) +
                              " 714 525 " + Sources.path();
    // The screen shows the row a frame after the file is saved.
    const auto rowShown = [](const QImage& shot) {
        return !BoundsOf(shot, [](QRgb p) { return p == qRgb(0, 255, 0); }).isEmpty();
    };
    QImage first;
    for (int shot = 0; shot < 100 && !rowShown(first); ++shot) {
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(Peer.Ask("grab " + panel + "/first.ppm"), "ok");
        first = QImage(QString::fromStdString(Sources / "first.ppm"));
    }
    EXPECT_TRUE(rowShown(first)) << "the short file's row";
    EXPECT_EQ(CaptionBar(first).size(), QSize(239, 16)) << "caption bar";
    // Answered while the long file is saved, not once it is.
    const std::string answer = Peer.Ask("ping " + DropPoint);
    EXPECT_TRUE(std::isdigit(answer[0])) << "ping answered: " << answer;
    EXPECT_EQ(Watch.Count(), 1u) << "ping answered only once the long file was saved";
    // The bar moves in whole chunks of a few pixels.
    const QRect bar = CaptionBar(first).adjusted(0, 16, 0, 40);
    bool moved = false;
    for (int shot = 0; shot < 100 && !moved && Watch.Count() == 1; ++shot) {
        std::this_thread::sleep_for(200ms);
        ASSERT_EQ(Peer.Ask("grab " + panel + "/later.ppm"), "ok");
        moved = QImage(QString::fromStdString(Sources / "later.ppm")).copy(bar) != first.copy(bar);
    }
    EXPECT_TRUE(moved) << "the bar stood still while the long file was saved";

    const std::size_t writes = LogLines(Log(), "slow write").size();
    ASSERT_EQ(Peer.Ask("close " + DropPoint), "ok");
    const int status = Window.AwaitExit(StopPatience);
    ASSERT_NE(status, -1) << "the window outlived the close request";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LE(LogLines(Log(), "slow write").size(), writes + 2) << "writes after the close";
    EXPECT_EQ(ListFolder(Program / "Waves"), std::vector<std::string>{"short.wav"});
}

// A file dropped a second time replaces the one saved before, whose successor is flushed to the
// disk first: a close request during that flush gives the successor up between two steps, and
// the file saved before stays.
TEST_F(SlowDisk, ACloseDuringTheFlushOfAReplacingSaveGivesItUpWithinAStep) {
    ASSERT_NO_FATAL_FAILURE(LocateWindow());
    const std::size_t size = 48u << 20;
    WriteFileBytes(Sources / "long.wav", WaveImage({.Channels = 2}, Bytes(size, 7)));
    ASSERT_EQ(Drag({"long.wav"}), "copy 1");
    ASSERT_EQ(Watch.AwaitCount(1).size(), 1u);
    struct stat saved {};
    ASSERT_EQ(stat((Program / "Waves/long.wav").c_str(), &saved), 0);
    ASSERT_EQ(Drag({"long.wav"}), "copy 1");
    const auto flushing = [&] {
        for (const std::string& name : ListFolder(Program / "Waves"))
            if (name.starts_with(".tessaly-") && fs::file_size(Program / ("Waves/" + name)) > size)
                return true;
        return false;
    };
    for (int wait = 0; wait < 1200 && !flushing(); ++wait)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(flushing()) << "the successor was never written whole";

    const std::size_t flushes = LogLines(Log(), "flush").size();
    ASSERT_EQ(Peer.Ask("close " + DropPoint), "ok");
    const int status = Window.AwaitExit(StopPatience);
    ASSERT_NE(status, -1) << "the window outlived the close request";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::vector<std::string> flushed = LogLines(Log(), "flush");
    EXPECT_LE(flushed.size(), flushes + 2) << "steps flushed after the close";
    for (const std::string& line : flushed)
        EXPECT_LE(std::stoull(line.substr(6)), 4u << 20) << "flushed at once";
    EXPECT_EQ(ListFolder(Program / "Waves"), std::vector<std::string>{"long.wav"});
    struct stat after {};
    ASSERT_EQ(stat((Program / "Waves/long.wav").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, saved.st_ino) << "the file saved before was replaced";
}

// A failure that ends a batch (here, no thread for it: the system has none left once the
// marker file exists) shows its message box; a stop signal ends the program all the same, box
// and all, as a close would.
class FailingBatch : public DropEndToEnd {
protected:
    static void SetUpTestSuite() {
        Markers.emplace();
        const char* asan = std::getenv("ASAN_OPTIONS");
        WindowEnvironment = {std::string("LD_PRELOAD=") + FAULT_INJECTION_LIBRARY,
                             "TESSALY_NO_THREADS_AFTER=" + *Markers / "no-threads",
                             "ASAN_OPTIONS=" + std::string(asan ? asan : "") +
                                 ":verify_asan_link_order=0"};
    }
    static void TearDownTestSuite() {
        WindowEnvironment.clear();
        Markers.reset();
    }
    static std::optional<TempDir> Markers;
};

std::optional<TempDir> FailingBatch::Markers;

TEST_F(FailingBatch, AStopSignalEndsTheProgramWithItsMessageBoxUp) {
    ASSERT_NO_FATAL_FAILURE(LocateWindow());
    WriteFileBytes(*Markers / "no-threads", {});
    ASSERT_EQ(Drag(WriteWaves("take-", 3, 4)), "copy 1");
    ASSERT_NE(Peer.Ask("window Tessaly"), "timeout") << "no message box";
    Window.Signal(SIGTERM);
    const int status = Window.AwaitExit(StopPatience);
    ASSERT_NE(status, -1) << "the program outlived the stop";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

INSTANTIATE_TEST_SUITE_P(, StopDuringBatch, ::testing::Values(0, SIGTERM, SIGHUP),
                         [](const auto& info) {
                             return info.param == 0 ? std::string("CloseRequest")
                                                    : std::string(sigabbrev_np(info.param));
                         });

// A Wayland session of its own for the test: a headless sway, with one output, no input device
// and no X server. sway will not run as root; under root it runs as nobody, whose runtime
// folder the test makes (root reaches its sockets all the same).
class WaylandSession {
public:
    WaylandSession() {
        std::vector<std::string> command;
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || chown(Runtime.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
                throw std::runtime_error("no user nobody to run sway");
            command = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                       "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"};
        }
        // Each window floats at a place of its own: the drag source at the left, Tessaly beside.
        const std::string config = "xwayland disable\n"
                                   "for_window [app_id=tessaly-dragsource] "
                                   "floating enable, move position 0 0\n"
                                   "for_window [app_id=io.github.tessaly.Tessaly] "
                                   "floating enable, move position 300 0\n";
        WriteFileBytes(Runtime / "config", Bytes(config.begin(), config.end()));
        command.insert(command.end(),
                       {"env", "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
                        "WLR_RENDERER=pixman", "XDG_RUNTIME_DIR=" + Runtime.path(),
                        "SWAYSOCK=" + (Runtime / "ipc"), "sway", "-c", Runtime / "config"});
        Compositor.emplace(command);
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        while (Ask("-t get_version").empty() && std::chrono::steady_clock::now() < deadline)
            usleep(100000);
        for (const std::string& name : ListFolder(Runtime.path()))
            if (name.starts_with("wayland-") && !name.ends_with(".lock"))
                Display = name;
        if (Display.empty())
            throw std::runtime_error("sway did not start");
    }

    // The command line of a program run as a client of the session, on Qt's Wayland plugin.
    std::vector<std::string> Client(std::vector<std::string> argv) const {
        std::vector<std::string> command = {"env",
                                            "-u",
                                            "DISPLAY",
                                            "XDG_RUNTIME_DIR=" + Runtime.path(),
                                            "WAYLAND_DISPLAY=" + Display,
                                            "QT_QPA_PLATFORM=wayland"};
        command.insert(command.end(), argv.begin(), argv.end());
        return command;
    }
    // What swaymsg answers to the arguments; empty when sway does not answer.
    std::string Ask(const std::string& arguments) const {
        const std::string command = "SWAYSOCK=" + (Runtime / "ipc") + " swaymsg " + arguments;
        std::string answer;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                answer.append(buffer, got);
            if (pclose(pipe) != 0)
                answer.clear();
        }
        return answer;
    }
    // Whether a window with this app_id is mapped, by the compositor's own account of its windows.
    bool AwaitWindow(const std::string& appId) const {
        const std::string entry = "\"app_id\": \"" + appId + "\"";
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        for (; std::chrono::steady_clock::now() < deadline; usleep(100000))
            if (Ask("-t get_tree -r").find(entry) != std::string::npos)
                return true;
        return false;
    }

private:
    TempDir Runtime;
    std::optional<Companion> Compositor;
    std::string Display;
};

class WaylandDrop : public ::testing::Test {
protected:
    std::string CopyProgram() {
        fs::copy_file(TESSALY_WINDOW, Program / "tessaly");
        fs::create_directory(Program / "Waves");
        return Program / "Waves";
    }
    std::vector<std::string> WriteSources() {
        std::vector<std::string> command = {TESSALY_WAYLANDPEER};
        for (const std::string& name : Names) {
            WriteFileBytes(Sources / name, WaveImage({.Channels = 2}, Bytes(4000, 7)));
            command.push_back(Sources / name);
        }
        return command;
    }

    const std::vector<std::string> Names = {"take 1.wav", "テイク2.wav"};
    WaylandSession Session;
    TempDir Program, Sources;
    RenameWatch Watch{CopyProgram()};
    Companion Window{Session.Client({Program / "tessaly"})};
    Companion Source{Session.Client(WriteSources())};
    Companion Pointer{Session.Client({TESSALY_WAYLANDPOINTER})};
};

// Pressed on the drag source, moved onto the window and released there, as a mouse would: the
// window, known to the compositor by its desktop file's name, takes both files and converts them,
// and ends cleanly when told to.
TEST_F(WaylandDrop, TwoFilesDraggedFromAWaylandClientArriveConverted) {
    ASSERT_TRUE(Session.AwaitWindow("io.github.tessaly.Tessaly")) << Session.Ask("-t get_tree");
    ASSERT_TRUE(Session.AwaitWindow("tessaly-dragsource")) << Session.Ask("-t get_tree");
    ASSERT_EQ(Pointer.Ask("move 100 100"), "ok");
    ASSERT_EQ(Pointer.Ask("press"), "ok");
    ASSERT_EQ(Source.ReadLine(), "dragging");
    for (const char* step : {"move 300 200", "move 600 300", "move 650 300"})
        ASSERT_EQ(Pointer.Ask(step), "ok") << step;
    ASSERT_EQ(Source.ReadLine(), "accepted");
    ASSERT_EQ(Pointer.Ask("release"), "ok");
    EXPECT_EQ(Source.ReadLine(), "copy");
    EXPECT_EQ(Watch.AwaitCount(Names.size()), Names);
    // The same samples, with the format chunk written in its 18-byte form.
    for (const std::string& name : Names)
        EXPECT_EQ(fs::file_size(Program / ("Waves/" + name)), fs::file_size(Sources / name) + 2)
            << name;
    Window.Signal(SIGTERM);
    const int status = Window.AwaitExit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Only for measuring text and laying out a window, and not passed on to the window under test,
    // which runs on the test's X server.
    qunsetenv("QT_QPA_PLATFORM");
    std::vector<char*> arguments(argv, argv + argc);
    char platform[] = "-platform", offscreen[] = "offscreen";
    arguments.insert(arguments.begin() + 1, {platform, offscreen});
    int count = static_cast<int>(arguments.size());
    QApplication application(count, arguments.data());
    RegisterDesignFontSubstitution();
    return RUN_ALL_TESTS();
}
