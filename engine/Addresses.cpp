#include "engine/Addresses.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

bool inRange(unsigned int a, unsigned int network, int bits) {
    const unsigned int mask = bits == 0 ? 0 : ~0u << (32 - bits);
    return (a & mask) == (network & mask);
}

constexpr unsigned int ipv4(unsigned a, unsigned b, unsigned c, unsigned d) { return a << 24 | b << 16 | c << 8 | d; }

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// An address literal, in any spelling the system's parser takes ("127.1", "0x7f000001").
std::optional<sockaddr_storage> literal(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    sockaddr_storage s{};
    std::memcpy(&s, found->ai_addr, std::min<std::size_t>(found->ai_addrlen, sizeof s));
    ::freeaddrinfo(found);
    return s;
}

bool sameAddress(const sockaddr* a, const sockaddr* b) {
    if (a->sa_family != b->sa_family) return false;
    if (a->sa_family == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr == reinterpret_cast<const sockaddr_in*>(b)->sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr,
                       16) == 0;
}

}  // namespace

AddressKind kindOfIpv4(unsigned int a) {
    if (inRange(a, ipv4(0, 0, 0, 0), 8)) return AddressKind::Unspecified;
    if (inRange(a, ipv4(127, 0, 0, 0), 8)) return AddressKind::Loopback;
    if (inRange(a, ipv4(10, 0, 0, 0), 8) || inRange(a, ipv4(172, 16, 0, 0), 12) || inRange(a, ipv4(192, 168, 0, 0), 16))
        return AddressKind::Private;
    if (inRange(a, ipv4(169, 254, 0, 0), 16)) return AddressKind::LinkLocal;
    if (inRange(a, ipv4(100, 64, 0, 0), 10)) return AddressKind::Shared;
    if (inRange(a, ipv4(224, 0, 0, 0), 4)) return AddressKind::Multicast;
    if (inRange(a, ipv4(240, 0, 0, 0), 4)) return AddressKind::Reserved;  // the broadcast address too
    return AddressKind::Public;
}

AddressKind kindOfIpv6(const unsigned char* b) {
    auto zeros = [&](int from, int to) { return std::all_of(b + from, b + to, [](unsigned char c) { return c == 0; }); };
    auto embedded = [&] { return kindOfIpv4(ipv4(b[12], b[13], b[14], b[15])); };
    if (zeros(0, 16)) return AddressKind::Unspecified;
    if (zeros(0, 15) && b[15] == 1) return AddressKind::Loopback;
    if (zeros(0, 10) && b[10] == 0xff && b[11] == 0xff) return embedded();        // ::ffff:a.b.c.d
    if (zeros(0, 12)) return embedded();                                            // ::a.b.c.d
    const unsigned char translated[] = {0x00, 0x64, 0xff, 0x9b};
    if (std::memcmp(b, translated, 4) == 0 && zeros(4, 12)) return embedded();    // 64:ff9b::a.b.c.d
    if (std::memcmp(b, translated, 4) == 0 && b[4] == 0 && b[5] == 1) return AddressKind::Private;  // 64:ff9b:1::/48
    if ((b[0] & 0xfe) == 0xfc) return AddressKind::Private;                         // fc00::/7
    if (b[0] == 0xfe && (b[1] & 0xc0) == 0xc0) return AddressKind::Private;        // fec0::/10
    if (b[0] == 0xfe && (b[1] & 0xc0) == 0x80) return AddressKind::LinkLocal;      // fe80::/10
    if (b[0] == 0xff) return AddressKind::Multicast;
    return AddressKind::Public;
}

AddressKind kindOf(const sockaddr* s) {
    if (s->sa_family == AF_INET) return kindOfIpv4(ntohl(reinterpret_cast<const sockaddr_in*>(s)->sin_addr.s_addr));
    if (s->sa_family == AF_INET6) return kindOfIpv6(reinterpret_cast<const sockaddr_in6*>(s)->sin6_addr.s6_addr);
    return AddressKind::Reserved;
}

std::optional<AddressKind> kindOfLiteral(const std::string& text) {
    std::string host = text;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const auto s = literal(host);
    if (!s) return std::nullopt;
    return kindOf(reinterpret_cast<const sockaddr*>(&*s));
}

const char* kindToken(AddressKind k) {
    switch (k) {
        case AddressKind::Public: return "public";
        case AddressKind::Loopback: return "loopback";
        case AddressKind::Private: return "private";
        case AddressKind::LinkLocal: return "link-local";
        case AddressKind::Shared: return "shared";
        case AddressKind::Multicast: return "multicast";
        case AddressKind::Unspecified: return "unspecified";
        case AddressKind::Reserved: return "reserved";
    }
    return "";
}

std::string addressText(const sockaddr* s) {
    char text[INET6_ADDRSTRLEN] = "";
    if (s->sa_family == AF_INET) ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(s)->sin_addr, text, sizeof text);
    if (s->sa_family == AF_INET6) ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(s)->sin6_addr, text, sizeof text);
    return text;
}

std::optional<Destination> destinationOf(const std::string& authority, int defaultPort) {
    std::string host, port;
    bool portGiven = false;
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos) return std::nullopt;
        host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') return std::nullopt;
        portGiven = !rest.empty();
        if (portGiven) port = rest.substr(1);
        if (host.find(':') == std::string::npos) return std::nullopt;
    } else if (std::count(authority.begin(), authority.end(), ':') == 1) {
        host = authority.substr(0, authority.find(':'));
        port = authority.substr(authority.find(':') + 1);
        portGiven = true;
    } else {
        host = authority;  // a name, or an IPv6 address without brackets
    }
    if (!host.empty() && host.back() == '.') host.pop_back();
    if (host.empty() || host.find_first_of("/?#@ \t\r\n[]") != std::string::npos) return std::nullopt;
    int number = defaultPort;
    if (portGiven) {
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        number = std::stoi(port);
    }
    if (number < 1 || number > 65535) return std::nullopt;
    return Destination{lower(host), number};
}

std::optional<Destination> destinationOfAddress(const std::string& address) {
    const auto colon = address.find("://");
    if (colon == std::string::npos) return std::nullopt;
    const std::string scheme = lower(address.substr(0, colon));
    const int port = scheme == "http" || scheme == "ws" ? 80 : scheme == "https" || scheme == "wss" ? 443 : 0;
    if (!port) return std::nullopt;
    std::string authority = address.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
    return destinationOf(authority, port);
}

std::string destinationText(const Destination& d) {
    const bool v6 = d.host.find(':') != std::string::npos;
    return (v6 ? "[" + d.host + "]" : d.host) + ":" + std::to_string(d.port);
}

Resolved resolve(const Destination& to) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int failed = ::getaddrinfo(to.host.c_str(), std::to_string(to.port).c_str(), &hints, &found);
    Resolved r;
    if (failed) {
        r.error = ::gai_strerror(failed);
        return r;
    }
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
        sockaddr_storage s{};
        std::memcpy(&s, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof s));
        const bool seen = std::any_of(r.addresses.begin(), r.addresses.end(), [&](const sockaddr_storage& o) {
            return sameAddress(reinterpret_cast<const sockaddr*>(&o), reinterpret_cast<const sockaddr*>(&s));
        });
        if (!seen) r.addresses.push_back(s);
    }
    ::freeaddrinfo(found);
    if (r.addresses.empty()) r.error = ::gai_strerror(EAI_NONAME);
    return r;
}

bool validAllowEntry(const std::string& entry) { return destinationOf(entry, 0).has_value() || destinationOf(entry, 1); }

AddressRules::AddressRules(bool denyPrivate, const std::vector<std::string>& allowed) : deny_(denyPrivate) {
    for (const auto& entry : allowed) {
        // No port: any port (0 stands for it).
        const auto withPort = destinationOf(entry, 0);
        if (withPort && withPort->port != 0) allowed_.push_back(*withPort);
        else if (const auto any = destinationOf(entry, 1)) allowed_.push_back({any->host, 0});
    }
}

bool AddressRules::exempt(const Destination& to, const sockaddr* address) const {
    for (const auto& a : allowed_) {
        if (a.port != 0 && a.port != to.port) continue;
        if (a.host == to.host) return true;
        const auto l = literal(a.host);
        if (l && sameAddress(reinterpret_cast<const sockaddr*>(&*l), address)) return true;
    }
    return false;
}

AddressRules::Verdict AddressRules::judge(const Destination& to, const std::vector<sockaddr_storage>& addresses) const {
    if (!deny_) return {};
    for (const auto& s : addresses) {
        const auto* a = reinterpret_cast<const sockaddr*>(&s);
        const auto kind = kindOf(a);
        if (kind != AddressKind::Public && !exempt(to, a)) return {false, kind, addressText(a)};
    }
    return {};
}

}  // namespace engine
