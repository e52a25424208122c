#include "shot/WarmStart.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shot/Messages.h"
#include "shot/WarmPlace.h"

namespace shot {

namespace {

// Starts the engine in a session of its own, as a grandchild nobody waits for. It holds
// /dev/null on its standard descriptors and one more, 3, the writing end of `ready`.
bool spawn(const EngineStart& start, int ready, std::string& why) {
    std::vector<std::string> args{start.self};
    args.insert(args.end(), start.args.begin(), start.args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        why = std::strerror(errno);
        return false;
    }
    if (child == 0) {
        ::setsid();
        if (::fork() != 0) ::_exit(0);
        // Nothing of the command's signal handling: the engine, and what it starts, hear
        // every signal.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
        const int null = ::open("/dev/null", O_RDWR);
        const int keep = ::fcntl(ready, F_DUPFD, 10);
        if (null < 0 || keep < 0) ::_exit(127);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::dup2(keep, 3);
        ::syscall(SYS_close_range, 4u, ~0u, 0u);
        if (::chdir("/") != 0) ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

// Waits for the engine's word that it listens; false when it ended first or took too long.
bool awaitReady(int ready, int limitS) {
    std::string said;
    const auto until = WarmClock::now() + std::chrono::seconds(limitS);
    while (said.find('\n') == std::string::npos) {
        if (!awaitReadable(ready, until)) return false;
        char chunk[64];
        const ssize_t n = ::read(ready, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        said.append(chunk, static_cast<std::size_t>(n));
    }
    return said.rfind("ready", 0) == 0;
}

}  // namespace

Fd reachEngine(const std::string& socket, const EngineStart& start, bool& started, std::string& why) {
    started = false;
    if (Fd c = connectTo(socket)) return c;
    Fd lock(::open(lockPathFor(socket).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock) {
        why = format(tr("cannot open '%s': %s"), lockPathFor(socket).c_str(), std::strerror(errno));
        return Fd();
    }
    while (::flock(lock.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    // Another command may have started it meanwhile.
    if (Fd c = connectTo(socket)) return c;
    ::unlink(socket.c_str());  // an engine's that is gone
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        return Fd();
    }
    Fd reading(ends[0]), writing(ends[1]);
    if (!spawn(start, writing.get(), why)) return Fd();
    writing = Fd();
    if (!awaitReady(reading.get(), start.limitS)) {
        why = tr("the engine did not start");
        return Fd();
    }
    Fd c = connectTo(socket);
    if (!c) why = format(tr("cannot reach the engine at '%s': %s"), socket.c_str(), std::strerror(errno));
    started = bool(c);
    return c;
}

}  // namespace shot
