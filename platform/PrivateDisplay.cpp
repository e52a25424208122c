#include "platform/PrivateDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

std::unique_ptr<PrivateDisplay> PrivateDisplay::start(int width, int height, std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return nullptr;
    }
    if (pid == 0) {
        // Ended with its parent, whatever ends it; out of the terminal's process group,
        // so the parent alone decides when on Ctrl+C.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::setpgid(0, 0);
        ::dup2(fds[1], 3);  // without close-on-exec: Xvfb writes its display number there
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-dpi", "96",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (::poll(&p, 1, 15000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        error = "Xvfb did not start (is the xvfb package installed?)";
        return nullptr;
    }
    return std::unique_ptr<PrivateDisplay>(new PrivateDisplay(pid, ":" + number));
}

PrivateDisplay::~PrivateDisplay() {
    ::kill(pid_, SIGTERM);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace platform
