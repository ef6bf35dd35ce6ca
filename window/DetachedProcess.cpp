#include "DetachedProcess.h"

#include <csignal>
#include <memory>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct SpawnAttributesDestroy {
    void operator()(posix_spawnattr_t* attributes) const { posix_spawnattr_destroy(attributes); }
};
using SpawnAttributes = std::unique_ptr<posix_spawnattr_t, SpawnAttributesDestroy>;

// Its own session, so a signal to our terminal's process group does not reach it; every signal
// at its default and none blocked, as this process ignores SIGXFSZ.
SpawnAttributes OwnSessionDefaultSignals(posix_spawnattr_t& storage) {
    posix_spawnattr_init(&storage);
    SpawnAttributes attributes(&storage);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&storage, &all);
    posix_spawnattr_setsigmask(&storage, &none);
    posix_spawnattr_setflags(&storage,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    return attributes;
}

} // namespace

bool StartDetached(const std::string& program, const std::string& argument) {
    posix_spawnattr_t storage;
    const SpawnAttributes attributes = OwnSessionDefaultSignals(storage);
    // posix_spawnp takes non-const strings but does not change them.
    std::string programCopy = program, argumentCopy = argument;
    char* arguments[] = {programCopy.data(), argumentCopy.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program.c_str(), nullptr, attributes.get(), arguments, environ) != 0)
        return false;
    // Collects its exit status whenever it ends, so no finished child lingers as a zombie.
    std::thread([child] { waitpid(child, nullptr, 0); }).detach();
    return true;
}
