// The test helpers that use POSIX facilities.
#include "TestSupport.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char kSeparator[] = "/";
const bool kPosix = true;

fs::path FileSystemPath(const std::string& path) {
    return fs::path(path);
}

std::string Utf8Name(const fs::path& name) {
    return name.string();
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tessaly-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    Path = pattern;
}

std::vector<std::string> NonRegularFiles(const std::string& folder) {
    const std::string fifo = folder + "/pipe.wav";
    if (mkfifo(fifo.c_str(), 0600) != 0)
        throw std::runtime_error("cannot make a FIFO");
    return {folder, fifo, "/dev/zero"};
}

ExclusiveHold::ExclusiveHold(const std::string& path) : Native(open(path.c_str(), O_RDONLY)) {
    if (Native < 0 || flock(static_cast<int>(Native), LOCK_EX) != 0)
        throw std::runtime_error("cannot lock " + path);
}

ExclusiveHold::~ExclusiveHold() {
    close(static_cast<int>(Native));
}

namespace {
std::string Drain(int fd) {
    std::string text;
    std::array<char, 4096> buffer{};
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0)
        text.append(buffer.data(), static_cast<std::size_t>(n));
    return text;
}
} // namespace

RunResult RunProgram(const std::vector<std::string>& argv) {
    // Output goes to temporary files so a chatty child can never block on a full pipe.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult result;
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::rewind(out);
    std::rewind(err);
    result.Out = Drain(fileno(out));
    result.Err = Drain(fileno(err));
    std::fclose(out);
    std::fclose(err);
    return result;
}

bool HaveProgram(const std::string& name) {
    return RunProgram({"sh", "-c", "command -v " + name}).ExitCode == 0;
}

std::uint64_t MemoryInUse() {
    std::uint64_t size = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

bool MapsFileNamed(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.ends_with("/" + name))
            return true;
    return false;
}

std::uint64_t PeakMemoryInUse() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

bool SignalPending(int pid, int signal) {
    // The process's own pending set and its main thread's, in hexadecimal masks.
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const unsigned long long bit = 1ull << (signal - 1);
    for (std::string line; std::getline(status, line);)
        if ((line.starts_with("ShdPnd:") || line.starts_with("SigPnd:")) &&
            (std::stoull(line.substr(7), nullptr, 16) & bit) != 0)
            return true;
    return false;
}
