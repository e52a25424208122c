// Which network addresses a page may reach: the kind of an address, judged on the
// address a name resolves to, never on how it is spelled; and the hosts a capture
// exempts by name. No toolkit: plain POSIX sockets and the system's resolver.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>
#include <vector>

namespace engine {

enum class AddressKind {
    Public,
    Loopback,     // 127/8, ::1
    Private,      // 10/8, 172.16/12, 192.168/16, fc00::/7, fec0::/10
    LinkLocal,    // 169.254/16, fe80::/10
    Shared,       // 100.64/10, the carriers' shared address space
    Multicast,    // 224/4, ff00::/8
    Unspecified,  // 0/8, ::
    Reserved,     // 240/4 and the broadcast address
};

// The kind of an IPv4 address in host byte order.
AddressKind kindOfIpv4(unsigned int address);
// The kind of an IPv6 address (16 bytes); IPv4 mapped, compatible or translated
// (::ffff:a.b.c.d, ::a.b.c.d, 64:ff9b::a.b.c.d) are of their IPv4 address's kind.
AddressKind kindOfIpv6(const unsigned char* address);
AddressKind kindOf(const sockaddr*);
// The kind of an address literal ("10.0.0.1", "::1", "[::1]"); nothing when it is not one.
std::optional<AddressKind> kindOfLiteral(const std::string&);
// A token naming the kind ("loopback", "private"...), for the programs to word.
const char* kindToken(AddressKind);

// An address as text ("127.0.0.1", "::1").
std::string addressText(const sockaddr*);

// A host with a port, as a request names it: "example.org:443", "[::1]:80".
struct Destination {
    std::string host;  // lower case, without brackets or a final dot
    int port = 0;
};
// The host and port of an authority ("host", "host:port", "[v6]:port"); `defaultPort`
// when none is given. Nothing when it is not one.
std::optional<Destination> destinationOf(const std::string& authority, int defaultPort);
// The host and port of an http, https, ws or wss address; nothing for other addresses.
std::optional<Destination> destinationOfAddress(const std::string& address);
std::string destinationText(const Destination&);

// Every address a name resolves to, or why it does not resolve.
struct Resolved {
    std::vector<sockaddr_storage> addresses;
    std::string error;  // the resolver's words, when there are none
};
Resolved resolve(const Destination&);

// What a capture lets its page reach.
class AddressRules {
public:
    AddressRules() = default;
    // `denyPrivate`: only public addresses, but for the `allowed` hosts (HOST or
    // HOST:PORT, an address literal or a name).
    AddressRules(bool denyPrivate, const std::vector<std::string>& allowed);
    bool denies() const { return deny_; }

    struct Verdict {
        bool allowed = true;
        AddressKind kind = AddressKind::Public;  // of the first address refused
        std::string address;                      // that address, as text
    };
    // Whether `to`, resolved to `addresses`, may be reached: every address must be
    // public, unless the host or the address is exempted.
    Verdict judge(const Destination& to, const std::vector<sockaddr_storage>& addresses) const;

private:
    bool exempt(const Destination& to, const sockaddr*) const;
    bool deny_ = false;
    std::vector<Destination> allowed_;  // port 0: any port
};

// Whether an --allow-host entry is well formed: HOST or HOST:PORT.
bool validAllowEntry(const std::string&);

}  // namespace engine
