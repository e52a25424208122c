// The kept engine's socket, both ends: a Unix stream socket on which a command sends
// one page (a line of how long the engine stays, and the worker's task line), with
// descriptors beside it: the file to write and the command's standard error.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace shot {

using WarmClock = std::chrono::steady_clock;

// A descriptor closed when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept;
    ~Fd();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();

private:
    int fd_ = -1;
};

// A connection to the socket at `path`; none (errno says why) when nothing listens there.
Fd connectTo(const std::string& path);
// A socket listening at `path`, which must not exist yet.
Fd listenAt(const std::string& path);
// Whether `path` fits a socket's address.
bool fitsSocketAddress(const std::string& path);

// Sends all of `data`, the descriptors with its first byte.
bool sendAll(int socket, const std::string& data, const std::vector<int>& fds = {});
// Reads what there is (at least one byte, or the end), with any descriptors sent along,
// which are closed on exec. 0 at the end, -1 on failure.
ssize_t receive(int socket, std::string& into, std::vector<Fd>& fds);

// The process at the other end of a Unix socket, as the system knows it.
std::optional<ucred> peerOf(int socket);

// Waits until `fd` is readable or `until` passes; false when it passed (or failed).
// Signals that are blocked now are let in while it waits: EINTR comes back as true
// with `signalled` set.
bool awaitReadable(int fd, WarmClock::time_point until, bool* signalled = nullptr);

// Takes the first line out of `buffer`, without its end; none while there is no whole line.
std::optional<std::string> takeLine(std::string& buffer);

}  // namespace shot
