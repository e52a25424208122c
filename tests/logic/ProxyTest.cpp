// The engine's own proxy without the engine: a destination's addresses tried side by
// side, a send completed on a full socket, and a connection refused, not left waiting,
// once the process has no descriptor left.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/Forwarding.h"
#include "engine/Proxy.h"

namespace {

using namespace std::chrono;

sockaddr_storage loopback(int family, const char* address, int port) {
    sockaddr_storage s{};
    if (family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&s);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, address, &a->sin6_addr);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&s);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, address, &a->sin_addr);
    }
    return s;
}

socklen_t lengthOf(const sockaddr_storage& s) {
    return s.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

int portOf(const sockaddr_storage& s) {
    return ntohs(s.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&s)->sin6_port
                                         : reinterpret_cast<const sockaddr_in*>(&s)->sin_port);
}

// Sockets a test opened, closed as it ends.
struct Sockets {
    std::vector<int> fds;
    ~Sockets() {
        for (int fd : fds) ::close(fd);
    }
    // An address that listens: "live" accepts, "silent" has its queue full so that a
    // connection never answers (as a dead route), "refused" listens no more.
    sockaddr_storage listening(int family, const char* address, const std::string& how) {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        auto a = loopback(family, address, 0);
        socklen_t len = lengthOf(a);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), len), 0) << address << ": " << std::strerror(errno);
        ::listen(fd, 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        if (how == "refused") ::close(fd);
        else fds.push_back(fd);
        if (how == "silent") {
            const int filler = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&a), len);
            fds.push_back(filler);
        }
        return a;
    }
};

TEST(ForwardProxy, ADestinationsAddressesAreTriedSideBySideNotEachForItsWholeTimeLimit) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, const char*>> addresses;  // in the resolver's order
        std::vector<const char*> how;
        int live;  // which answers, -1: none
    };
    const Case cases[] = {
        {"a silent IPv6 address before a live IPv4 one", {{AF_INET6, "::1"}, {AF_INET, "127.0.0.1"}}, {"silent", "live"}, 1},
        {"a silent IPv4 address before a live one", {{AF_INET, "127.0.0.2"}, {AF_INET, "127.0.0.1"}}, {"silent", "live"}, 1},
        {"two silent IPv4 addresses before a live IPv6 one",
         {{AF_INET, "127.0.0.2"}, {AF_INET, "127.0.0.3"}, {AF_INET6, "::1"}}, {"silent", "silent", "live"}, 2},
        {"a refused IPv6 address before a live IPv4 one", {{AF_INET6, "::1"}, {AF_INET, "127.0.0.1"}}, {"refused", "live"}, 1},
        {"silent addresses alone", {{AF_INET6, "::1"}, {AF_INET, "127.0.0.2"}, {AF_INET, "127.0.0.3"}},
         {"silent", "silent", "silent"}, -1},
    };
    for (const auto& c : cases) {
        Sockets open;
        std::vector<sockaddr_storage> addresses;
        for (std::size_t i = 0; i < c.addresses.size(); ++i)
            addresses.push_back(open.listening(c.addresses[i].first, c.addresses[i].second, c.how[i]));
        const int wake = ::eventfd(0, EFD_CLOEXEC);
        const auto began = steady_clock::now();
        int code = 0;
        // Each address has 15 s (1 s when none answers, to keep the test short).
        const int fd = engine::forwarding::connectTo(addresses, c.live < 0 ? 1000 : 15000, wake, code);
        const auto took = duration_cast<milliseconds>(steady_clock::now() - began).count();
        ::close(wake);
        if (c.live < 0) {
            EXPECT_EQ(fd, -1) << c.what;
            EXPECT_EQ(code, ETIMEDOUT) << c.what;
            EXPECT_LT(took, 2500) << c.what << ": each silent address was waited for in turn";
            continue;
        }
        ASSERT_GE(fd, 0) << c.what << ": " << std::strerror(code);
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len);
        EXPECT_EQ(peer.ss_family, addresses[static_cast<std::size_t>(c.live)].ss_family) << c.what;
        EXPECT_EQ(portOf(peer), portOf(addresses[static_cast<std::size_t>(c.live)])) << c.what;
        EXPECT_LT(took, 3000) << c.what << ": the live address was tried only after the silent one gave up";
        ::close(fd);
    }
}

TEST(ForwardProxy, ALargeSendIsCompletedAsTheSocketTakesIt) {
    // A socket that takes little at a time (as a non-blocking upstream answering EAGAIN
    // to big cookies) gets all of it.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    const std::string sent(4 << 20, 'x');
    std::size_t got = 0;
    std::thread reader([&] {
        char buf[65536];
        for (ssize_t n; (n = ::read(pair[1], buf, sizeof buf)) != 0;) {
            if (n > 0) got += static_cast<std::size_t>(n);
            else if (errno == EAGAIN) std::this_thread::sleep_for(milliseconds(1));
            else break;
        }
    });
    EXPECT_TRUE(engine::forwarding::sendAll(pair[0], sent.data(), sent.size()));
    ::close(pair[0]);
    reader.join();
    ::close(pair[1]);
    EXPECT_EQ(got, sent.size());
}

TEST(ForwardProxy, WithNoDescriptorLeftAConnectionIsRefusedAndTheProxyServesAgainAfter) {
    engine::ForwardProxy proxy;
    ASSERT_NE(proxy.port(), 0);
    rlimit was{};
    ::getrlimit(RLIMIT_NOFILE, &was);
    rlimit low = was;
    low.rlim_cur = std::min<rlim_t>(was.rlim_cur, 256);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    // Every descriptor taken but one, which the client takes: the proxy has none to
    // accept it with.
    std::vector<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
    ASSERT_FALSE(taken.empty());
    ::close(taken.back());
    taken.pop_back();
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    auto to = loopback(AF_INET, "127.0.0.1", proxy.port());
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), lengthOf(to)), 0);
    pollfd p{client, POLLIN, 0};
    const bool answered = ::poll(&p, 1, 10000) > 0;
    char c;
    const bool closed = answered && ::recv(client, &c, 1, MSG_DONTWAIT) <= 0;
    ::close(client);
    for (int fd : taken) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &was);
    EXPECT_TRUE(closed) << "the connection was left waiting";

    // With descriptors again, the proxy answers the next connection.
    const int next = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(next, reinterpret_cast<sockaddr*>(&to), lengthOf(to)), 0);
    engine::forwarding::sendAll(next, "NONSENSE\r\n\r\n", 12);
    std::string said;
    char buf[256];
    for (ssize_t n; (p = {next, POLLIN, 0}, ::poll(&p, 1, 10000) > 0) && (n = ::recv(next, buf, sizeof buf, 0)) > 0;)
        said.append(buf, static_cast<std::size_t>(n));
    ::close(next);
    EXPECT_EQ(said.rfind("HTTP/1.1 400", 0), 0u) << said;
}

}  // namespace
