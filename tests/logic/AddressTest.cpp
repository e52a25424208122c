// Which addresses a page may reach, without the engine: the kind of every range and
// of the IPv4 addresses IPv6 carries, judged on what a name resolves to whatever its
// spelling, and the hosts a capture exempts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "engine/Addresses.h"

using engine::AddressKind;
using engine::AddressRules;
using engine::Destination;

namespace {

sockaddr_storage addressOf(const std::string& text) {
    sockaddr_storage s{};
    if (text.find(':') == std::string::npos) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&s);
        v4->sin_family = AF_INET;
        EXPECT_EQ(::inet_pton(AF_INET, text.c_str(), &v4->sin_addr), 1) << text;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&s);
        v6->sin6_family = AF_INET6;
        EXPECT_EQ(::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr), 1) << text;
    }
    return s;
}

TEST(Addresses, EveryRangeHasItsKindToItsEdges) {
    const std::pair<const char*, AddressKind> cases[] = {
        {"0.0.0.0", AddressKind::Unspecified},     {"0.255.255.255", AddressKind::Unspecified},
        {"1.0.0.0", AddressKind::Public},          {"9.255.255.255", AddressKind::Public},
        {"10.0.0.0", AddressKind::Private},        {"10.255.255.255", AddressKind::Private},
        {"11.0.0.0", AddressKind::Public},         {"100.63.255.255", AddressKind::Public},
        {"100.64.0.0", AddressKind::Shared},       {"100.127.255.255", AddressKind::Shared},
        {"100.128.0.0", AddressKind::Public},      {"126.255.255.255", AddressKind::Public},
        {"127.0.0.0", AddressKind::Loopback},      {"127.0.0.2", AddressKind::Loopback},
        {"127.255.255.255", AddressKind::Loopback}, {"128.0.0.0", AddressKind::Public},
        {"169.253.255.255", AddressKind::Public},  {"169.254.0.0", AddressKind::LinkLocal},
        {"169.254.169.254", AddressKind::LinkLocal}, {"169.255.0.0", AddressKind::Public},
        {"172.15.255.255", AddressKind::Public},   {"172.16.0.0", AddressKind::Private},
        {"172.31.255.255", AddressKind::Private},  {"172.32.0.0", AddressKind::Public},
        {"192.167.255.255", AddressKind::Public},  {"192.168.0.0", AddressKind::Private},
        {"192.168.255.255", AddressKind::Private}, {"192.169.0.0", AddressKind::Public},
        {"223.255.255.255", AddressKind::Public},  {"224.0.0.0", AddressKind::Multicast},
        {"239.255.255.255", AddressKind::Multicast}, {"240.0.0.0", AddressKind::Reserved},
        {"255.255.255.255", AddressKind::Reserved}, {"8.8.8.8", AddressKind::Public},
        {"::", AddressKind::Unspecified},          {"::1", AddressKind::Loopback},
        {"::2", AddressKind::Unspecified},         // ::0.0.0.2, an IPv4-compatible 0/8 address
        {"fbff:ffff::1", AddressKind::Public},     {"fc00::", AddressKind::Private},
        {"fd12:3456::1", AddressKind::Private},    {"fdff:ffff::1", AddressKind::Private},
        {"fe7f::1", AddressKind::Public},          {"fe80::", AddressKind::LinkLocal},
        {"febf:ffff::1", AddressKind::LinkLocal},  {"fec0::1", AddressKind::Private},
        {"ff02::1", AddressKind::Multicast},       {"2606:4700::1111", AddressKind::Public},
        // IPv4 carried by IPv6: mapped, compatible and translated.
        {"::ffff:127.0.0.1", AddressKind::Loopback}, {"::ffff:7f00:1", AddressKind::Loopback},
        {"::ffff:10.1.2.3", AddressKind::Private},   {"::ffff:169.254.169.254", AddressKind::LinkLocal},
        {"::ffff:100.64.0.1", AddressKind::Shared},  {"::ffff:0.0.0.0", AddressKind::Unspecified},
        {"::ffff:224.0.0.1", AddressKind::Multicast}, {"::ffff:8.8.8.8", AddressKind::Public},
        {"::127.0.0.1", AddressKind::Loopback},      {"::192.168.1.1", AddressKind::Private},
        {"64:ff9b::127.0.0.1", AddressKind::Loopback}, {"64:ff9b::10.0.0.1", AddressKind::Private},
        {"64:ff9b::8.8.8.8", AddressKind::Public},   {"64:ff9b:1::1", AddressKind::Private},
    };
    for (const auto& [text, kind] : cases) {
        const auto s = addressOf(text);
        EXPECT_EQ(engine::kindOf(reinterpret_cast<const sockaddr*>(&s)), kind) << text;
        EXPECT_EQ(engine::kindOfLiteral(text), kind) << text;
    }
    EXPECT_FALSE(engine::kindOfLiteral("example.org"));
}

TEST(Addresses, EverySpellingOfLoopbackResolvesToLoopbackAndIsRefused) {
    const AddressRules deny(true, {});
    const char* spellings[] = {"http://127.1/", "http://2130706433/", "http://0x7f000001/", "http://0177.0.0.1/",
                               "http://localhost:8080/", "http://LOCALHOST./", "http://[::ffff:127.0.0.1]/",
                               "http://[::ffff:7f00:1]:81/", "http://[::1]/", "ws://127.0.0.2:9/", "https://0/"};
    for (const char* address : spellings) {
        const auto to = engine::destinationOfAddress(address);
        ASSERT_TRUE(to) << address;
        const auto found = engine::resolve(*to);
        ASSERT_FALSE(found.addresses.empty()) << address << ": " << found.error;
        for (const auto& a : found.addresses)
            EXPECT_NE(engine::kindOf(reinterpret_cast<const sockaddr*>(&a)), AddressKind::Public) << address;
        EXPECT_FALSE(deny.judge(*to, found.addresses).allowed) << address;
        EXPECT_TRUE(AddressRules(false, {}).judge(*to, found.addresses).allowed) << address;
    }
}

TEST(Addresses, DestinationsAreReadFromAddressesAndAuthorities) {
    struct Case {
        const char* address;
        std::optional<std::pair<std::string, int>> to;
    };
    const Case cases[] = {
        {"http://Example.ORG./a?b#c", {{"example.org", 80}}},  {"https://example.org/", {{"example.org", 443}}},
        {"ws://a.example:8080", {{"a.example", 8080}}},        {"WSS://a.example/x", {{"a.example", 443}}},
        {"http://user:pw@host.example:81/", {{"host.example", 81}}}, {"https://[::1]:8443/", {{"::1", 8443}}},
        {"http://host:0/", std::nullopt},  {"http://host:65536/", std::nullopt}, {"http://host:/", std::nullopt},
        {"ftp://host/", std::nullopt},     {"file:///etc/passwd", std::nullopt}, {"http:///x", std::nullopt},
        {"http://[::1/", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto to = engine::destinationOfAddress(c.address);
        ASSERT_EQ(to.has_value(), c.to.has_value()) << c.address;
        if (!to) continue;
        EXPECT_EQ(to->host, c.to->first) << c.address;
        EXPECT_EQ(to->port, c.to->second) << c.address;
    }
    EXPECT_EQ(engine::destinationText({"::1", 80}), "[::1]:80");
    EXPECT_EQ(engine::destinationText({"example.org", 443}), "example.org:443");

    for (const char* good : {"example.org", "example.org:8080", "127.0.0.1:80", "[::1]:80", "::1", "localhost"})
        EXPECT_TRUE(engine::validAllowEntry(good)) << good;
    for (const char* bad : {"", "example.org:", "host:99999", "host:x", "a/b", "[::1", ":80", "user@host"})
        EXPECT_FALSE(engine::validAllowEntry(bad)) << bad;
}

TEST(Addresses, ExemptedHostsAreReachedByNameOrAddressAndPort) {
    const AddressRules rules(true, {"127.0.0.1:8080", "intranet.example", "10.0.0.5", "[::1]:9000"});
    struct Case {
        Destination to;
        std::vector<std::string> addresses;
        bool allowed;
    };
    const Case cases[] = {
        {{"127.0.0.1", 8080}, {"127.0.0.1"}, true},
        {{"127.0.0.1", 8081}, {"127.0.0.1"}, false},           // another port of an exempted address
        {{"localhost", 8080}, {"127.0.0.1", "::1"}, false},    // ::1 is not exempted on that port
        {{"intranet.example", 443}, {"10.1.1.1"}, true},       // by name, on any port
        {{"other.example", 80}, {"10.0.0.5"}, true},           // a name resolving to an exempted address
        {{"other.example", 80}, {"10.0.0.6"}, false},
        {{"public.example", 80}, {"93.184.216.34"}, true},
        {{"rebound.example", 80}, {"93.184.216.34", "192.168.1.1"}, false},  // one address private: refused
        {{"::1", 9000}, {"::1"}, true},
        {{"::1", 9001}, {"::1"}, false},
        {{"mapped.example", 80}, {"::ffff:192.168.0.1"}, false},
    };
    for (const auto& c : cases) {
        std::vector<sockaddr_storage> addresses;
        for (const auto& a : c.addresses) addresses.push_back(addressOf(a));
        const auto verdict = rules.judge(c.to, addresses);
        EXPECT_EQ(verdict.allowed, c.allowed) << c.to.host << ":" << c.to.port;
        if (!verdict.allowed) {
            EXPECT_NE(verdict.kind, AddressKind::Public) << c.to.host;
        }
    }
    // What it says of the first address it refuses.
    const auto verdict = AddressRules(true, {}).judge({"metadata.example", 80}, {addressOf("169.254.169.254")});
    EXPECT_EQ(verdict.address, "169.254.169.254");
    EXPECT_STREQ(engine::kindToken(verdict.kind), "link-local");
}

}  // namespace
