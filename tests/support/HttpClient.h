// A small HTTP/1.1 client for the tests of the capture service, on loopback.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace support {

struct HttpReply {
    int status = 0;  // 0: no answer (the connection closed or failed)
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

HttpReply httpRequest(int port, const std::string& method, const std::string& target,
                      const std::vector<std::string>& headers = {}, const std::string& body = {}, int timeoutMs = 120000);

// The same through a Unix socket.
HttpReply httpRequest(const std::string& socketPath, const std::string& method, const std::string& target);

// A connection to a loopback port (-1 when refused), and all it says until it closes or
// `timeoutMs` pass: for clients that misbehave.
int connectLoopback(int port);
std::string readUntilClosed(int fd, int timeoutMs);
// Whether the other end closes the connection, waited for up to `timeoutMs`, with
// nothing sent on it before.
bool closedQuietly(int fd, int timeoutMs);

// A GET sent on an open connection that is kept open, and its answer (read by its
// length, the connection left open); status 0 when none came whole in `timeoutMs`.
HttpReply askKeepingAlive(int fd, const std::string& target, int timeoutMs = 30000);

// A loopback port nothing listens on now.
int freePort();

}  // namespace support
