// nginx (Debian's) in front of capture services, with the site the package ships, on a
// loopback port of its own: the services as operators put them behind a reverse proxy.
#pragma once

#include <sys/types.h>

#include <vector>

#include "tests/support/GuiHarness.h"

namespace support {

class Nginx {
public:
    // In front of the services on these loopback ports; ready once /health answers 200.
    explicit Nginx(const std::vector<int>& ports);
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;
    int port() const { return port_; }
    // Whether nginx is installed where Debian puts it.
    static bool installed();
    TempDir dir;

private:
    int port_;
    pid_t pid_ = -1;
};

}  // namespace support
