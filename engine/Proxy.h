// A small forward proxy inside the engine's own process, which the engine sends every
// request of its pages through when private addresses are refused. It resolves each
// name itself, judges every address the name resolves to, and connects to exactly
// an address it judged, so a name cannot resolve to one address for the check and
// to another for the connection. CONNECT makes tunnels (https, wss); plain http is
// forwarded one request a connection (WebSocket upgrades as they are). A refused
// destination is answered 403; one that cannot be reached 502 or 504.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/Addresses.h"

namespace engine {

// What the proxy did not pass on.
struct TurnedAway {
    enum class Why { Refused, NoHost, NotReached, TimedOut };
    Why why = Why::Refused;
    Destination to;
    std::string address;  // the address refused, or the one that could not be reached
    AddressKind kind = AddressKind::Public;
    std::string error;    // the resolver's or the system's words
    int code = 0;         // the system's error number, when a connection failed
};

struct ProxyTally {
    int refused = 0;
    std::string firstRefused;  // the first address refused: a URL, or host:port for a tunnel
};

class ForwardProxy {
public:
    // Listens on 127.0.0.1 at a port the system picks; port() is 0 when it cannot.
    ForwardProxy();
    ~ForwardProxy();
    ForwardProxy(const ForwardProxy&) = delete;
    ForwardProxy& operator=(const ForwardProxy&) = delete;

    int port() const { return port_; }
    // The rules for connections made from now on.
    void setRules(const AddressRules&);
    // Forgets what it turned away so far: a new capture starts.
    void forget();
    ProxyTally tally() const;
    // The last time `to` was turned away since forget(), if it was.
    std::optional<TurnedAway> turnedAway(const Destination& to) const;

    struct State;  // shared with the connections' threads, which may outlive the proxy

private:
    std::shared_ptr<State> state_;
    int port_ = 0;
    std::thread listening_;
};

}  // namespace engine
