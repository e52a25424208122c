// What the engine's forward proxy does with sockets and request heads: plain POSIX.
// Every wait also watches `wake`, a descriptor readable once the proxy stops.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <optional>
#include <string>
#include <vector>

namespace engine::forwarding {

inline constexpr int kStalledMs = 30000;      // for a socket to take more of what is sent
inline constexpr int kNextAttemptMs = 250;    // before the next address is tried beside one still silent
inline constexpr int kIdleMs = 60000;         // a relay nothing passes through ends
inline constexpr int kHalfClosedMs = 10000;   // the destination's time to end after its client did

// Sends everything, waiting (up to kStalledMs at a time) while the socket is full.
bool sendAll(int fd, const char* data, std::size_t size, int wake = -1);
// A bodiless answer of the proxy's own ("403 Forbidden"), after which it closes.
void answer(int client, const char* status);
// Waits until `fd` is ready for `events`; false when the proxy stops or `ms` pass (-1: no limit).
bool await(int fd, short events, int ms, int wake);
// Connects to one of `addresses`, each tried within `ms`, the next started beside one
// that has not answered after kNextAttemptMs (IPv6 and IPv4 side by side); -1, and the
// system's error number in `code`, when none answers.
int connectTo(const std::vector<sockaddr_storage>& addresses, int ms, int wake, int& code);
// Passes bytes both ways until the server has sent all it will (or a side fails, the
// proxy stops, nothing passed for kIdleMs, or the client ended kHalfClosedMs ago).
void relay(int client, int server, int wake);

struct Head {
    std::string method, target, version;
    std::vector<std::string> lines;  // header lines, without their ends
};
std::optional<Head> parseHead(const std::string& text);
// The head the destination gets: the target in origin form (`path`), the proxy's own
// headers dropped, and the connection closed after one answer unless it is upgraded
// (WebSocket).
std::string forwardedHead(const Head&, const std::string& path);

}  // namespace engine::forwarding
