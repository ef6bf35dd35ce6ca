#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra)
            replaced = replaced || x.substr(0, x.find('=')) == name;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& t : texts)
        pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void BecomeChild(const ChildOptions& options, int out, int err, int terminal,
                              char** argv, char** envp) {
    dup2(options.OutOnTerminal ? terminal : out, STDOUT_FILENO);
    dup2(options.ErrOnTerminal ? terminal : err, STDERR_FILENO);
    if (options.FileSizeLimit != 0) {
        const rlimit limit{options.FileSizeLimit, options.FileSizeLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
    }
    const rlimit descriptors{options.DescriptorLimit, options.DescriptorLimit};
    if (options.DescriptorLimit != 0 && setrlimit(RLIMIT_NOFILE, &descriptors) != 0)
        _exit(126);
    const rlimit noCore{0, 0};
    const auto action = options.SignalIgnored ? SIG_IGN : SIG_DFL;
    if (options.Signal != 0 &&
        (signal(options.Signal, action) == SIG_ERR || setrlimit(RLIMIT_CORE, &noCore) != 0))
        _exit(126);
    if (options.AsNobody &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(126);
    execve(argv[0], argv, envp);
    _exit(127);
}

// Appends what waits on the terminal's side (non-blocking) to text.
void DrainTerminal(int master, std::string& text) {
    char buffer[4096];
    ssize_t n;
    while (master >= 0 && (n = read(master, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
}

// The child's wait status; the terminal is read meanwhile, so the child never blocks on it.
int WaitWithDeadline(pid_t pid, const ChildOptions& options, int master, ChildResult& result) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.TimeoutSeconds);
    int status = 0;
    bool signalled = options.Signal == 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        DrainTerminal(master, result.Terminal);
        if (!signalled && options.SignalWhen())
            for (int sent = 0; sent < options.SignalCount; ++sent) {
                // Two signals sent back to back would merge into one while pending.
                for (int wait = 0; sent != 0 && wait < 5000 && SignalPending(pid, options.Signal);
                     ++wait)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                signalled = kill(pid, options.Signal) == 0;
            }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.TimedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    DrainTerminal(master, result.Terminal);
    return status;
}

std::string ReadAll(FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

} // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergedEnvironment(options.Env);
    std::vector<char*> argp = Pointers(args), envp = Pointers(env);
    // Output goes to files: a chatty child can never block on a full pipe.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (!out || !err)
        throw std::runtime_error("no temporary file for a child's output");
    int master = -1, terminal = -1;
    if ((options.OutOnTerminal || options.ErrOnTerminal) &&
        (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0 ||
         fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || fcntl(terminal, F_SETFD, FD_CLOEXEC) != 0 ||
         fcntl(master, F_SETFL, O_NONBLOCK) != 0))
        throw std::runtime_error("no pseudo-terminal for a child");
    int unread[2] = {-1, -1};
    if (options.OutUnread && pipe2(unread, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe for a child");
    const pid_t pid = fork();
    if (pid == 0)
        BecomeChild(options, options.OutUnread ? unread[1] : fileno(out), fileno(err), terminal,
                    argp.data(), envp.data());
    for (const int fd : {terminal, unread[1]})
        if (fd >= 0)
            close(fd); // the child's copy alone holds it open
    ChildResult result;
    const int status = WaitWithDeadline(pid, options, master, result);
    if (unread[0] >= 0)
        close(unread[0]);
    if (master >= 0)
        close(master);
    result.Signalled = WIFSIGNALED(status);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadAll(out);
    result.Err = ReadAll(err);
    return result;
}

ConverterCopy::ConverterCopy() : Program(Dir / "tessaly-convert") {
    fs::copy_file(TESSALY_CONVERT, Program);
    OpenToAll(Dir.path());
}

void OpenToAll(const std::string& path) {
    fs::permissions(path,
                    fs::perms::others_read | fs::perms::others_exec | fs::perms::group_read |
                        fs::perms::group_exec,
                    fs::perm_options::add);
}

void GiveToNobody(const std::string& path) {
    if (chown(path.c_str(), kNobody, kNobody) != 0)
        throw std::runtime_error("cannot hand " + path + " to nobody");
}

std::vector<std::string> InterposerEnvironment(const std::string& log) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {std::string("LD_PRELOAD=") + FAULT_INJECTION_LIBRARY, "TESSALY_FAULT_LOG=" + log,
            "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0"};
}

std::vector<std::string> RowFields(const std::string& row) {
    std::vector<std::string> fields;
    std::size_t start = 0, bar;
    while ((bar = row.find('|', start)) != std::string::npos) {
        fields.push_back(row.substr(start, bar - start));
        start = bar + 1;
    }
    fields.push_back(row.substr(start));
    return fields;
}
