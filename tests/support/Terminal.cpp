#include "tests/support/Terminal.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace support {

Outcome runInTerminal(const std::vector<std::string>& argv, const std::vector<std::string>& env, int columns,
                      std::chrono::seconds limit, const std::function<bool(const std::string&)>& interruptWhen) {
    int terminal = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid < 0) return {};
    if (pid == 0) {
        for (const auto& e : env) {
            const auto eq = e.find('=');
            if (eq == std::string::npos) ::unsetenv(e.c_str());
            else ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    Outcome o;
    const auto until = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    bool typed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (!typed && interruptWhen && interruptWhen(o.out)) {
            typed = true;
            const char ctrlC = '\x03';  // the terminal sends SIGINT to its foreground process group
            if (::write(terminal, &ctrlC, 1) != 1) ::kill(-pid, SIGINT);
        }
        pollfd p{terminal, POLLIN, 0};
        const long wait = interruptWhen && !typed ? std::min<long>(100, left.count()) : left.count();
        if (::poll(&p, 1, static_cast<int>(wait)) == 0) continue;
        const ssize_t n = ::read(terminal, buf, sizeof buf);
        if (n > 0) o.out.append(buf, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR) break;  // EIO: every end of the terminal's other side is closed
    }
    ::close(terminal);
    o.status = waitCommand(pid);
    return o;
}

}  // namespace support
