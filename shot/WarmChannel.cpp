#include "shot/WarmChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace shot {

Fd& Fd::operator=(Fd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.release();
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

namespace {

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.c_str(), std::min(path.size() + 1, sizeof a.sun_path - 1));
    return a;
}

bool fits(const std::string& path) { return path.size() < sizeof(sockaddr_un{}.sun_path); }

// A new socket for that address; none when the address is too long for one.
Fd socketFor(const std::string& path) {
    if (!fits(path)) {
        errno = ENAMETOOLONG;
        return Fd();
    }
    return Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

}  // namespace

bool fitsSocketAddress(const std::string& path) { return fits(path); }

Fd connectTo(const std::string& path) {
    Fd s = socketFor(path);
    if (!s) return s;
    const auto a = addressOf(path);
    int r;
    while ((r = ::connect(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a)) != 0 && errno == EINTR) {
    }
    return r == 0 ? std::move(s) : Fd();
}

Fd listenAt(const std::string& path) {
    Fd s = socketFor(path);
    if (!s) return s;
    const auto a = addressOf(path);
    const mode_t mask = ::umask(0077);
    const bool bound = ::bind(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::umask(mask);
    if (!bound || ::listen(s.get(), 64) != 0) return Fd();
    return s;
}

bool sendAll(int socket, const std::string& data, const std::vector<int>& fds) {
    std::size_t at = 0;
    bool first = true;
    while (at < data.size()) {
        iovec part{const_cast<char*>(data.data() + at), data.size() - at};
        msghdr m{};
        m.msg_iov = &part;
        m.msg_iovlen = 1;
        std::vector<char> control;
        if (first && !fds.empty()) {
            control.assign(CMSG_SPACE(sizeof(int) * fds.size()), 0);
            m.msg_control = control.data();
            m.msg_controllen = control.size();
            cmsghdr* c = CMSG_FIRSTHDR(&m);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
            std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
        }
        const ssize_t n = ::sendmsg(socket, &m, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        first = false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

ssize_t receive(int socket, std::string& into, std::vector<Fd>& fds) {
    char data[16384];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    iovec part{data, sizeof data};
    msghdr m{};
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(socket, &m, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (n < 0) return n;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            fds.emplace_back(fd);
        }
    }
    into.append(data, static_cast<std::size_t>(n));
    return n;
}

std::optional<ucred> peerOf(int socket) {
    ucred who{};
    socklen_t size = sizeof who;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &who, &size) != 0) return std::nullopt;
    return who;
}

bool awaitReadable(int fd, WarmClock::time_point until, bool* signalled) {
    sigset_t none;
    sigemptyset(&none);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - WarmClock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const timespec wait{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
        const int r = ::ppoll(&p, 1, &wait, signalled ? &none : nullptr);
        if (r > 0) return true;
        if (r < 0 && errno == EINTR && signalled) {
            *signalled = true;
            return true;
        }
        if (r < 0 && errno != EINTR) return false;
    }
}

std::optional<std::string> takeLine(std::string& buffer) {
    const auto end = buffer.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    return line;
}

}  // namespace shot
