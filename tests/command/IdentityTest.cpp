// Who is asking, where it must not reach, on the real engine: a caller's headers stay
// with the page's own origin through redirects, and a page's own requests cannot set
// them; a login asked for by another site costs only what it guards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

using support::Picture;

namespace {

constexpr std::uint32_t kGreen = 0x00ff00;

std::string ok(const std::string& type, const std::string& body) {
    return "200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The value of a header in a request's head; "-" when it has none.
std::string headerIn(const std::string& head, const std::string& name) {
    const auto at = head.find("\r\n" + name + ":");
    if (at == std::string::npos) return "-";
    const auto from = head.find_first_not_of(' ', at + name.size() + 3);
    return head.substr(from, head.find("\r\n", from) - from);
}

// What a server was asked, path by path: the X-Token each request brought.
class Heard {
public:
    std::function<std::string(const std::string&)> echo(const std::string& path, std::string type = "text/plain",
                                                        std::string body = {}) {
        return [this, path, type, body](const std::string& head) {
            const std::string token = headerIn(head, "X-Token");
            std::lock_guard lock(mutex_);
            tokens_[path].push_back(token);
            if (headerIn(head, "Authorization") != "-") authorized_ = true;
            return ok(type, body.empty() ? token : body);
        };
    }
    std::vector<std::string> tokens(const std::string& path) {
        std::lock_guard lock(mutex_);
        return tokens_[path];
    }
    bool authorized() {
        std::lock_guard lock(mutex_);
        return authorized_;
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> tokens_;
    bool authorized_ = false;
};

struct Shot {
    support::Outcome run;
    std::optional<Picture> picture;
};

class Identity : public ::testing::Test {
protected:
    Shot shot(std::vector<std::string> args) {
        args.insert(args.begin(), VEMO_SHOT);
        args.push_back(out.path("p.png"));
        std::filesystem::remove(out.path("p.png"));
        Shot s{support::runCommand(args), std::nullopt};
        if (std::filesystem::exists(out.path("p.png"))) s.picture = support::readPicture(out.path("p.png"));
        return s;
    }
    support::HttpServer page;                 // the page's own origin
    support::HttpServer other{"127.0.0.2"};  // another one
    Heard pageHeard, otherHeard;
    support::TempDir out;
};

TEST_F(Identity, HeadersGoToThePagesOwnOriginOnlyAndPagesCannotSetThem) {
    const std::string green = "<!doctype html><body style='margin:0;background:#0f0'><div style='height:200px'></div>";
    // A page that goes to another origin: neither there nor back home after it.
    page.respond("/start", [&](const std::string& head) {
        pageHeard.echo("/start")(head);
        return "302 Found\r\nLocation: " + other.url("/landing") + "\r\nContent-Length: 0\r\n\r\n";
    });
    other.respond("/landing", otherHeard.echo("/landing", "text/html", green + "<script src='" + page.url("/after.js") + "'></script>"));
    page.respond("/after.js", pageHeard.echo("/after.js", "text/javascript", "void 0;"));
    // A page at home: its image redirected elsewhere, and its own requests under the
    // header's name and the name that once carried headers.
    page.respond("/hop", [&](const std::string& head) {
        pageHeard.echo("/hop")(head);
        return "302 Found\r\nLocation: " + other.url("/img.svg") + "\r\nContent-Length: 0\r\n\r\n";
    });
    other.respond("/img.svg", otherHeard.echo("/img.svg", "image/svg+xml", "<svg xmlns='http://www.w3.org/2000/svg'/>"));
    for (const char* echo : {"/echo", "/echo2"}) page.respond(echo, pageHeard.echo(echo));
    page.respond("/page", pageHeard.echo("/page", "text/html",
        "<!doctype html><body style='margin:0'><div id=a style='height:100px;background:#f00'></div>"
        "<div id=b style='height:100px;background:#f00'></div><img src='/hop'><script>"
        "fetch('/echo', {headers: {'X-Token': 'forged', 'Vemo-Headers': \"[('X-Token', 'evil')]\"}})"
        ".then(r => r.text()).then(t => { if (t == 't1') a.style.background = '#0f0'; return fetch('/echo2'); })"
        ".then(r => r.text()).then(t => { if (t == 't1') b.style.background = '#0f0';"
        " document.body.insertAdjacentHTML('beforeend', '<p id=done>done</p>'); });</script>"));

    auto s = shot({"--header=X-Token: t1", page.url("/start")});
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    EXPECT_EQ(s.picture->at(5, 5), kGreen);
    EXPECT_EQ(pageHeard.tokens("/start"), std::vector<std::string>{"t1"});
    EXPECT_EQ(otherHeard.tokens("/landing"), std::vector<std::string>{"-"}) << "the header followed a redirect";
    EXPECT_EQ(pageHeard.tokens("/after.js"), std::vector<std::string>{"-"}) << "the header came back after the page left";

    s = shot({"--header=X-Token: t1", "--wait-for=#done", page.url("/page")});
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    EXPECT_EQ(s.picture->at(5, 50), kGreen) << "a page's request set the header";
    EXPECT_EQ(s.picture->at(5, 150), kGreen) << "a page's request changed what later requests carry";
    EXPECT_EQ(pageHeard.tokens("/page"), std::vector<std::string>{"t1"});
    EXPECT_EQ(pageHeard.tokens("/hop"), std::vector<std::string>{"t1"});
    EXPECT_EQ(otherHeard.tokens("/img.svg"), std::vector<std::string>{"-"}) << "the header followed the image's redirect";
    EXPECT_EQ(pageHeard.tokens("/echo"), std::vector<std::string>{"t1"});

    // Without headers of the caller's, a page's request under the old carrier's name
    // puts none on the requests after it.
    page.respond("/plain", [](const std::string&) {
        return ok("text/html", "<!doctype html><script>fetch('/echo', {headers: {'Vemo-Headers': \"[('X-Token', 'evil')]\"}})"
                               ".then(() => fetch('/echo2')).then(() => document.body.insertAdjacentHTML('beforeend',"
                               " '<p id=done>done</p>'));</script>");
    });
    s = shot({"--wait-for=#done", page.url("/plain")});
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    EXPECT_EQ(pageHeard.tokens("/echo2").back(), "-");
}

// In a batch the previous page goes before the next page's identity is put on: its
// scripts, still running while the next page loads, could otherwise send requests to
// the next page's origin carrying the caller's header.
TEST_F(Identity, ABatchsPreviousPageCannotSendItsHeadersToTheNextPagesOrigin) {
    other.respond("/probe", otherHeard.echo("/probe"));
    page.serve("/first", "<!doctype html><body style='background:#0f0'><script>setInterval(() => fetch('" +
                             other.url("/probe") + "', {mode: 'no-cors'}), 20);</script>");
    const std::string green = "<!doctype html><body style='margin:0;background:#0f0'>";
    other.respond("/second", otherHeard.echo("/second", "text/html", green));
    other.late("/second", 1500);  // the first page has all that time
    std::ofstream(out.path("list.txt")) << page.url("/first") << "\n" << other.url("/second") << "\n";
    const auto run = support::runCommand({VEMO_SHOT, "-q", "--jobs=1", "--header=X-Token: t1", "--list",
                                          out.path("list.txt"), "--out-dir", out.path("shots")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(otherHeard.tokens("/second"), std::vector<std::string>{"t1"});
    const auto probes = otherHeard.tokens("/probe");
    ASSERT_FALSE(probes.empty()) << "the first page's script did not run";
    EXPECT_EQ(std::count(probes.begin(), probes.end(), "t1"), 0) << "the first page sent the header to the next origin";
}

TEST_F(Identity, ALoginAskedByAnotherSiteCostsOnlyWhatItGuards) {
    // An image (which the engine asks no login for) and a frame (which it does).
    for (const char* path : {"/secret.svg", "/secret"}) {
        other.respond(path, [&, path](const std::string& head) {
            otherHeard.echo(path)(head);
            return std::string("401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n");
        });
    }
    page.serve("/page", "<!doctype html><body style='margin:0;background:#0f0'><div style='height:300px'></div>"
                        "<img src='" + other.url("/secret.svg") + "'><iframe src='" + other.url("/secret") + "'></iframe>");
    const std::string origin = "http://127.0.0.2:" + std::to_string(other.port());
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"--user=ann:pw"}}) {
        auto a = args;
        a.push_back(page.url("/page"));
        const auto s = shot(a);
        ASSERT_EQ(s.run.status, 0) << s.run.err;
        EXPECT_EQ(s.picture->at(5, 5), kGreen);
        EXPECT_NE(s.run.err.find("2 resources were left out, as another site than the page's asked for a login (the first: " +
                                 origin),
                  std::string::npos)
            << s.run.err;
    }
    EXPECT_FALSE(otherHeard.tokens("/secret.svg").empty());
    EXPECT_FALSE(otherHeard.tokens("/secret").empty());
    EXPECT_FALSE(otherHeard.authorized()) << "credentials went to another site";
}

}  // namespace
