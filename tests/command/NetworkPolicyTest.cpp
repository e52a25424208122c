// The network rules on the real engine. Loopback addresses stand for a private network:
// the tests' page server is let through with --allow-host, and a second server (on
// 127.0.0.2, or another port) is what a page must not reach, by any route a page has
// and in any spelling of its address. Nothing may arrive there; the picture is still
// written, its colours showing what loaded, and the refusals are said.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <glib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

using support::Picture;

namespace {

constexpr std::uint32_t kRed = 0xff0000, kGreen = 0x00ff00;

std::string answer(const std::string& type, const std::string& body) {
    return "200 OK\r\nContent-Type: " + type + "\r\nAccess-Control-Allow-Origin: *\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

const char* const kRedSvg =
    "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='50'><rect width='100' height='50' fill='#f00'/></svg>";

// Serves, red, everything a page could take from the refused server.
void serveRed(support::HttpServer& s) {
    for (const char* svg : {"/img.svg", "/redirected.svg", "/s1.svg", "/s2.svg", "/s3.svg", "/s4.svg", "/s5.svg", "/s6.svg"})
        s.serve(svg, kRedSvg);
    s.serve("/frame", "<!doctype html><body style='margin:0;background:#f00'>");
    s.serve("/navigated", "<!doctype html><body style='margin:0;background:#f00'><div style='height:400px'></div>");
    s.serve("/page", "<!doctype html><body style='background:#f00'>");
    s.respond("/style.css", [](const std::string&) { return answer("text/css", "#css { background: #f00 !important }"); });
    s.respond("/script.js", [](const std::string&) { return answer("text/javascript", "js.style.background = '#f00';"); });
    s.respond("/fetch", [](const std::string&) { return answer("text/plain", "x"); });
    s.respond("/xhr", [](const std::string&) { return answer("text/plain", "x"); });
}

// Blocks of 50 px, green; one turns red where what it asks of the refused server came.
// An image that does not come is hidden, rather than drawn broken.
const std::string kImage = "<img onerror='this.style.visibility=\"hidden\"' src='";
std::string blocks(const std::string& body) {
    return "<!doctype html><style>body { margin: 0; background: #0f0 } img, iframe, div { display: block; width: 100px; height: 50px;"
           " border: 0; margin: 0; background: #0f0 }</style>" + body;
}

bool ipv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

struct Shot {
    support::Outcome run;
    std::optional<Picture> picture;
    std::string report;
};

class NetworkRules : public ::testing::Test {
protected:
    NetworkRules() { serveRed(refused); }
    Shot shot(std::vector<std::string> args) {
        args.insert(args.begin(), {VEMO_SHOT, "--report=" + out.path("report.jsonl")});
        args.push_back(out.path("p.png"));
        std::filesystem::remove(out.path("p.png"));
        Shot s{support::runCommand(args), std::nullopt, {}};
        if (std::filesystem::exists(out.path("p.png"))) s.picture = support::readPicture(out.path("p.png"));
        std::ifstream report(out.path("report.jsonl"));
        std::getline(report, s.report);
        return s;
    }
    std::string allowPage() const { return "--allow-host=127.0.0.1:" + std::to_string(page.port()); }
    support::HttpServer page;
    support::HttpServer refused{"127.0.0.2"};
    support::TempDir out;
};

std::string joined(const std::vector<std::string>& list) {
    std::string all;
    for (const auto& s : list) all += s + " ";
    return all;
}

TEST_F(NetworkRules, NothingReachesARefusedAddressByAnyRouteOrSpelling) {
    const std::string r = refused.url("");
    const std::string host = "127.0.0.2:" + std::to_string(refused.port());
    page.respond("/hop", [&](const std::string&) {
        return "302 Found\r\nLocation: " + r + "/redirected.svg\r\nContent-Length: 0\r\n\r\n";
    });
    // Every route a page has, each a block where it can have one; for the rest (a
    // WebSocket whose handshake never completes, a beacon, a ping, an event stream, a font)
    // only what arrived tells.
    page.serve("/routes", blocks(kImage + r + "/img.svg'><iframe src='" + r + "/frame'></iframe>"
                                 "<div id=css></div><link rel=stylesheet href='" + r + "/style.css'>"
                                 "<div id=js></div><script src='" + r + "/script.js'></script>"
                                 "<div id=f></div><div id=x></div>" + kImage + "/hop'>"
                                 "<script>fetch('" + r + "/fetch').then(a => { if (a.ok) f.style.background = '#f00' });"
                                 "var q = new XMLHttpRequest(); q.onload = () => { if (q.status == 200) x.style.background = '#f00' };"
                                 "q.open('GET', '" + r + "/xhr'); q.send();"
                                 "new WebSocket('ws://" + host + "/ws'); navigator.sendBeacon('" + r + "/beacon', 'x');"
                                 "new EventSource('" + r + "/events'); new FontFace('f', 'url(" + r + "/font.ttf)').load();"
                                 "</script><a id=ping ping='" + r + "/ping' href='#here'>.</a><script>ping.click();</script>"));
    page.serve("/leave", "<!doctype html><body style='margin:0;background:#0f0'><div style='height:400px'></div>"
                         "<script>location.href = '" + r + "/navigated';</script>");
    // Another port of 127.0.0.1, in every spelling of it.
    support::HttpServer other;
    serveRed(other);
    const std::string port = std::to_string(other.port());
    std::string spelt;
    for (const auto& [n, h] : std::vector<std::pair<int, std::string>>{
             {1, "127.1"}, {2, "2130706433"}, {3, "0x7f000001"}, {4, "localhost"}, {5, "[::ffff:127.0.0.1]"}})
        spelt += kImage + "http://" + h + ":" + port + "/s" + std::to_string(n) + ".svg'>";
    std::unique_ptr<support::HttpServer> six;
    if (ipv6Loopback()) {
        six = std::make_unique<support::HttpServer>("::1");
        serveRed(*six);
        spelt += kImage + six->url("/s6.svg") + "'>";
    }
    page.serve("/spellings", blocks(spelt));

    struct Case {
        std::string path;
        support::HttpServer* target;
        int blocks;                      // of 50 px, from the top: red when loaded
        std::vector<std::string> asked;  // of the target, allowed; each refused at least once
    };
    const Case cases[] = {
        {"/routes", &refused, 7, {"/img.svg", "/frame", "/style.css", "/script.js", "/fetch", "/xhr", "/ws",
                                  "/redirected.svg", "/beacon", "/events", "/font.ttf", "/ping"}},
        {"/leave", &refused, 8, {"/navigated"}},
        {"/spellings", &other, 5, {"/s1.svg", "/s2.svg", "/s3.svg", "/s4.svg", "/s5.svg"}},
    };
    // How many requests the message says were refused; 0 when it says none.
    auto refusedIn = [](const std::string& text) {
        static const std::regex said("(\\d+) (request to an address pages may not reach was|requests to addresses pages may "
                                     "not reach were) refused \\(the first: ");
        std::smatch m;
        if (!std::regex_search(text, m, said)) return 0;
        const int n = std::stoi(m[1]);
        EXPECT_EQ(n == 1, m[2].str().rfind("request to", 0) == 0) << "the number and its words disagree: " << m[0];
        return n;
    };
    for (const auto& c : cases) {
        // Allowed, each route reaches the server and its colour shows: the page can tell.
        Shot s = shot({page.url(c.path)});
        ASSERT_EQ(s.run.status, 0) << c.path << ": " << s.run.err;
        for (int b = 0; b < c.blocks; ++b) EXPECT_EQ(s.picture->at(50, b * 50 + 25), kRed) << c.path << " block " << b;
        const auto heard = c.target->requested();
        for (const auto& path : c.asked)
            EXPECT_NE(std::find(heard.begin(), heard.end(), path), heard.end()) << c.path << " never asked for " << path;
        const auto before = c.target->requested().size();
        const auto sixBefore = six ? six->requested().size() : 0;

        s = shot({"--deny-private", allowPage(), page.url(c.path)});
        ASSERT_EQ(s.run.status, 0) << c.path << ": " << s.run.err;
        EXPECT_EQ(c.target->requested().size(), before)
            << c.path << " reached the refused server: " << joined(c.target->requested());
        if (six) {
            EXPECT_EQ(six->requested().size(), sixBefore) << c.path << ": " << joined(six->requested());
        }
        for (int b = 0; b < c.blocks; ++b) EXPECT_EQ(s.picture->at(50, b * 50 + 25), kGreen) << c.path << " block " << b;
        const int refusals = static_cast<int>(c.asked.size()) + (c.path == "/spellings" && six ? 1 : 0);
        EXPECT_GE(refusedIn(s.run.err), refusals) << c.path << ": " << s.run.err;
        EXPECT_GE(refusedIn(s.report), refusals) << c.path << ": " << s.report;
        EXPECT_NE(s.report.find("\"refused\":" + std::to_string(refusedIn(s.report))), std::string::npos) << s.report;
    }
}

TEST_F(NetworkRules, APageWhoseOwnAddressIsRefusedFailsWithTheReason) {
    page.respond("/away", [&](const std::string&) {
        return "302 Found\r\nLocation: " + refused.url("/page") + "\r\nContent-Length: 0\r\n\r\n";
    });
    page.serve("/fine", "<!doctype html><body style='margin:0;background:#0f0'>");
    const std::string port = std::to_string(refused.port());
    struct Case {
        std::string address, says;
    };
    const Case cases[] = {
        {refused.url("/page"), "127.0.0.2:" + port + " is refused: it leads to 127.0.0.2, a loopback address"},
        {"http://[::ffff:127.0.0.2]:" + port + "/page", "leads to ::ffff:127.0.0.2, a loopback address"},
        {"https://127.0.0.2:" + port + "/page", "127.0.0.2:" + port + " is refused"},  // a tunnel asked for
        {page.url("/away"), "127.0.0.2:" + port + " is refused"},                     // a redirect of the page
    };
    for (const auto& c : cases) {
        const auto s = shot({"--deny-private", allowPage(), c.address});
        EXPECT_EQ(s.run.status, 3) << c.address << ": " << s.run.err;
        EXPECT_NE(s.run.err.find(c.says), std::string::npos) << c.address << ": " << s.run.err;
        EXPECT_FALSE(s.picture) << c.address;
    }
    EXPECT_TRUE(refused.requested().empty()) << joined(refused.requested());
    // A host let through by name, on any port.
    const auto named = shot({"--deny-private", "--allow-host=localhost", "http://localhost:" + std::to_string(page.port()) + "/fine"});
    ASSERT_EQ(named.run.status, 0) << named.run.err;
    EXPECT_EQ(named.picture->at(5, 5), kGreen);
    EXPECT_EQ(named.run.err, "");
    // Refused where asked for only: without --deny-private everything loads as before.
    EXPECT_EQ(shot({refused.url("/page")}).run.status, 0);
    EXPECT_EQ(shot({"--allow-host=nothing:", page.url("/fine")}).run.status, 2);
}

TEST_F(NetworkRules, WhatTheyAllowStillWorksThroughThem) {
    // Through the rules' proxy: an image after a redirect, a fetch, and a WebSocket that
    // opens and gets a message; each turns its block green.
    page.respond("/hop", [&](const std::string&) {
        return "302 Found\r\nLocation: " + page.url("/green.svg") + "\r\nContent-Length: 0\r\n\r\n";
    });
    page.serve("/green.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='50'><rect width='100' "
                             "height='50' fill='#0f0'/></svg>");
    page.respond("/data", [](const std::string&) { return answer("text/plain", "ok"); });
    page.respond("/ws", [](const std::string& head) {
        const auto at = head.find("Sec-WebSocket-Key: ");
        const std::string key = head.substr(at + 19, head.find("\r\n", at) - at - 19) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
        guint8 digest[20];
        gsize size = sizeof digest;
        GChecksum* sha = g_checksum_new(G_CHECKSUM_SHA1);
        g_checksum_update(sha, reinterpret_cast<const guchar*>(key.data()), static_cast<gssize>(key.size()));
        g_checksum_get_digest(sha, digest, &size);
        g_checksum_free(sha);
        gchar* accept = g_base64_encode(digest, size);
        const std::string answer = std::string("101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                               "Sec-WebSocket-Accept: ") + accept + "\r\n\r\n\x81\x02ok";
        g_free(accept);
        return answer;
    });
    const std::string ws = "ws://127.0.0.1:" + std::to_string(page.port()) + "/ws";
    page.serve("/allowed", "<!doctype html><style>body { margin: 0 } img, div { display: block; width: 100px; height: 50px;"
                           " background: #f00 }</style><img src='/hop'><div id=f></div><div id=w></div><script>"
                           "fetch('/data').then(r => r.text()).then(t => { if (t == 'ok') f.style.background = '#0f0' });"
                           "new WebSocket('" + ws + "').onmessage = e => { if (e.data == 'ok') w.style.background = '#0f0';"
                           " document.body.insertAdjacentHTML('beforeend', '<p id=done>done</p>') };</script>");
    const auto s = shot({"--deny-private", allowPage(), "--wait-for=#done", page.url("/allowed")});
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    for (int b = 0; b < 3; ++b) EXPECT_EQ(s.picture->at(50, b * 50 + 25), kGreen) << "block " << b;
    EXPECT_EQ(s.run.err, "");
}

}  // namespace
