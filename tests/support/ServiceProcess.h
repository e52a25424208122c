// The capture service started as a user starts it, on a free loopback port, and what
// tests ask of it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/Decoders.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpClient.h"

namespace support {

// The service, started with `args` (after --serve and --listen), ready once /health says so.
// On TCP its pages reach public addresses only unless it is told otherwise: tests whose
// pages are served on loopback give --allow-private, or --allow-host for their server.
class ServiceProcess {
public:
    // `host`: the address it listens on (requests go to loopback all the same); `env`
    // changes its environment ("NAME=value"). With `untilReady` false, it is waited for
    // until /health answers at all, engines up or not.
    explicit ServiceProcess(std::vector<std::string> args, const std::string& host = "127.0.0.1",
                            std::vector<std::string> env = {}, bool untilReady = true);
    ~ServiceProcess();
    HttpReply get(const std::string& target, int ms = 120000, std::vector<std::string> headers = {});
    HttpReply post(const std::string& json, std::vector<std::string> headers = {});
    // Ends it with SIGTERM; its exit status.
    int stop();
    std::string log() const;
    const std::string& tag() const { return tag_; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    TempDir dir;

private:
    int port_;
    std::string tag_;
    pid_t pid_ = -1;
};

// The picture of an answer, decoded from its format (named by its extension).
std::optional<Picture> answerPicture(const HttpReply&, const std::string& extension);
// The target of a GET of /shot for `url`, with more of a query after it ("&a=b").
std::string shotOf(const std::string& url, const std::string& more = {});
// Text escaped for a query string.
std::string queryEscaped(const std::string&);

}  // namespace support
