// What the engine's forward proxy does with sockets and request heads: plain POSIX.
// Every wait also watches `wake`, a descriptor readable once the proxy stops.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <optional>
#include <string>
#include <vector>

namespace engine::forwarding {

bool sendAll(int fd, const char* data, std::size_t size);
// A bodiless answer of the proxy's own ("403 Forbidden"), after which it closes.
void answer(int client, const char* status);
// Waits until `fd` is ready for `events`; false when the proxy stops or `ms` pass (-1: no limit).
bool await(int fd, short events, int ms, int wake);
// Connects to one of `addresses`, each tried within `ms`; -1, and the system's error
// number in `code`, when none answers.
int connectTo(const std::vector<sockaddr_storage>& addresses, int ms, int wake, int& code);
// Passes bytes both ways until the server has sent all it will (or a side fails, or the
// proxy stops).
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
