// Batches of the capture command as a user runs them, on pages served over loopback:
// what the report says of each page, resuming what is not done (also after an
// interruption), the contact sheet read back by the engine itself, and the live line
// on a terminal.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"
#include "tests/support/JsonFields.h"
#include "tests/support/Terminal.h"

using support::TempDir;

namespace {

const std::string kShot = VEMO_SHOT;

std::string hex(std::uint32_t c) {
    char b[8];
    std::snprintf(b, sizeof b, "#%06x", c);
    return b;
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance = 12) {
    for (int s : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)) > tolerance) return false;
    return true;
}

using Fields = std::map<std::string, std::string>;

class Batch : public ::testing::Test {
protected:
    // A page of one colour and title at `path`, answered with `status`; its requests counted.
    void page(const std::string& path, std::uint32_t colour, const std::string& title, const std::string& status = "200 OK",
              const std::string& more = "") {
        server.respond(path, [=, this](const std::string&) {
            count(path);
            const std::string body = "<!doctype html><title>" + title + "</title><body style='margin:0;background:" +
                                     hex(colour) + "'><div style='height:1500px'></div>" + more;
            return status + "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        });
    }
    void count(const std::string& path) {
        std::lock_guard lock(mutex);
        ++requests[path];
    }
    int requested(const std::string& path) {
        std::lock_guard lock(mutex);
        return requests[path];
    }
    std::string list(const std::vector<std::string>& addresses) {
        std::ofstream out(pages.path("list.txt"));
        for (const auto& a : addresses) out << a << "\n";
        return pages.path("list.txt");
    }
    support::Outcome shot(std::vector<std::string> args) {
        args.insert(args.begin(), kShot);
        return support::runCommand(args);
    }
    std::vector<std::string> batch(const std::vector<std::string>& addresses, const std::string& dir) {
        return {"--no-warm-up", "--timeout=6", "--list", list(addresses), "--out-dir", dir, "--report", report()};
    }
    std::string report() const { return pages.path("report.jsonl"); }
    // The report's lines, each of which must be a whole page's report; a line still
    // being written is left for later.
    std::vector<Fields> lines() {
        const std::string text = reportText();
        std::vector<Fields> all;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            all.push_back(support::jsonFields(text.substr(at, end - at)));
            EXPECT_EQ(all.back().size(), 16u) << text.substr(at, end - at);
        }
        return all;
    }
    std::size_t okLines() {
        std::size_t n = 0;
        for (auto& f : lines()) n += f["status"] == "ok";
        return n;
    }
    std::string reportText() {
        std::ifstream in(report());
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::map<std::string, Fields> byAddress() {
        std::map<std::string, Fields> all;
        for (auto& f : lines()) EXPECT_TRUE(all.emplace(f["address"], f).second) << "twice: " << f["address"];
        return all;
    }
    // Files in a folder: no temporary one left, every picture whole.
    std::size_t pictures(const TempDir& dir, const std::string& sub) {
        std::size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path(sub))) {
            const auto name = e.path().filename().string();
            EXPECT_NE(name[0], '.') << "a temporary file was left: " << name;
            if (e.path().extension() != ".png") continue;
            EXPECT_TRUE(support::readPicture(e.path().string())) << name;
            ++n;
        }
        return n;
    }

    support::HttpServer server;
    TempDir pages, out;
    std::mutex mutex;
    std::map<std::string, int> requests;
};

TEST_F(Batch, TheReportSaysWhereEachPageLandedWhatItIsCalledAndWhatItLacked) {
    page("/plain", 0xff0000, "Plain");
    server.respond("/moved", [](const std::string&) { return std::string("302 Found\r\nLocation: /target\r\nContent-Length: 0\r\n\r\n"); });
    page("/target", 0x00ff00, "Target");
    page("/gone", 0x0000ff, "Not here", "404 Not Found");
    page("/waiting", 0xffff00, "Waiting", "200 OK", "<img src='/never.png' width=10 height=10 style='position:absolute;top:0'>");
    server.stall("/never.png");
    const std::string refused = support::unreachableUrl("/nothing");
    struct Expected {
        std::string address, status, finalAddress, title, httpStatus;
        std::uint32_t colour;  // 0: no picture
        std::string missing;
    };
    const Expected expected[] = {
        {server.url("/plain"), "ok", server.url("/plain"), "Plain", "200", 0xff0000, ""},
        {server.url("/moved"), "ok", server.url("/target"), "Target", "200", 0x00ff00, ""},
        {server.url("/gone"), "ok", server.url("/gone"), "Not here", "404", 0x0000ff, ""},
        {server.url("/waiting"), "incomplete", server.url("/waiting"), "Waiting", "200", 0xffff00, server.url("/never.png")},
        {refused, "load-failed", refused, "", "0", 0, ""},
    };
    std::vector<std::string> addresses;
    for (const auto& e : expected) addresses.push_back(e.address);
    // The folder is made, with the ones above it.
    const auto r = shot(batch(addresses, out.path("new/deeper")));
    EXPECT_EQ(r.status, 1) << r.err;
    auto reported = byAddress();
    ASSERT_EQ(reported.size(), std::size(expected));
    for (const auto& e : expected) {
        auto& f = reported[e.address];
        EXPECT_EQ(f["status"], e.status) << e.address;
        EXPECT_EQ(f["finalAddress"], e.finalAddress) << e.address;
        EXPECT_EQ(f["title"], e.title) << e.address;
        EXPECT_EQ(f["httpStatus"], e.httpStatus) << e.address;
        EXPECT_EQ(f["firstMissing"], e.missing) << e.address;
        EXPECT_EQ(f["stillLoading"], e.missing.empty() ? "0" : "1") << e.address;
        if (!e.colour) {
            EXPECT_EQ(f["file"], "") << e.address;
            EXPECT_NE(f["message"], "") << e.address;
            continue;
        }
        const auto picture = support::readPicture(f["file"]);
        ASSERT_TRUE(picture) << f["file"];
        EXPECT_EQ(picture->at(10, 10), e.colour) << e.address;
        EXPECT_EQ(f["height"], "1500");
    }
    EXPECT_EQ(pictures(out, "new/deeper"), 4u);
}

TEST_F(Batch, AResumedBatchSkipsWhatIsWrittenAndRedoesTheRest) {
    for (const auto& [path, colour] : std::map<std::string, std::uint32_t>{{"/a", 0xff0000}, {"/b", 0x00ff00}, {"/c", 0x0000ff}})
        page(path, colour, path);
    // Fails the first time (sent on to where nothing listens), loads afterwards.
    page("/flaky-page", 0xff00ff, "Flaky");
    std::atomic<int> flakyAsked{0};
    server.respond("/flaky", [&](const std::string&) {
        count("/flaky");
        const std::string to = ++flakyAsked == 1 ? support::unreachableUrl("/x") : server.url("/flaky-page");
        return "302 Found\r\nLocation: " + to + "\r\nContent-Length: 0\r\n\r\n";
    });
    const std::vector<std::string> addresses = {server.url("/a"), server.url("/b"), server.url("/flaky"), server.url("/c")};
    auto args = batch(addresses, out.dir());
    auto r = shot(args);
    ASSERT_EQ(r.status, 1) << r.err;
    ASSERT_EQ(lines().size(), 4u);
    std::filesystem::remove(byAddress()[server.url("/b")]["file"]);

    args.push_back("--resume");
    r = shot(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("4 of 4 pages written (2 of them before), 0 failed"), std::string::npos) << r.err;
    const std::map<std::string, int> asked = {{"/a", 1}, {"/b", 2}, {"/c", 1}, {"/flaky", 2}, {"/flaky-page", 1}};
    for (const auto& [path, times] : asked) EXPECT_EQ(requested(path), times) << path;
    auto reported = byAddress();
    ASSERT_EQ(reported.size(), 4u);
    for (auto& [address, f] : reported) {
        EXPECT_EQ(f["status"], "ok") << address;
        EXPECT_TRUE(std::filesystem::exists(f["file"])) << address;
    }
    EXPECT_EQ(pictures(out, "."), 4u);

    // Nothing left to do: nothing asked for, the report as it was.
    r = shot(args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& [path, times] : asked) EXPECT_EQ(requested(path), times) << path;
    EXPECT_EQ(byAddress().size(), 4u);
    // Without the report it goes on from, it is refused.
    EXPECT_EQ(shot({"--resume", "--list", list(addresses), "--out-dir", out.dir()}).status, 2);
}

TEST_F(Batch, AnInterruptedBatchLeavesWholeFilesAndGoesOnWhenResumed) {
    std::vector<std::string> addresses;
    for (int i = 0; i < 12; ++i) {
        page("/p" + std::to_string(i), 0x0f0f0f * (i + 1), "p");
        addresses.push_back(server.url("/p" + std::to_string(i)));
    }
    auto args = batch(addresses, out.dir());
    args.insert(args.begin(), {kShot, "--wait=400", "--jobs=2"});
    // Stopped twice, the second time once it has gone on from the first.
    for (int sig : {SIGTERM, SIGINT}) {
        const std::size_t before = okLines();
        const pid_t pid = support::startCommand(args, {}, pages.path("err.txt"));
        EXPECT_TRUE(support::eventually([&] { return okLines() >= before + 2; })) << sig;
        ::kill(pid, sig);
        EXPECT_EQ(support::waitCommand(pid), 130) << sig;
        // Every line whole, every page it says was written there and whole.
        EXPECT_TRUE(reportText().empty() || reportText().back() == '\n') << sig;
        const std::size_t written = okLines();
        EXPECT_EQ(pictures(out, "."), written) << sig;
        EXPECT_LT(written, addresses.size()) << sig;
        if (args.back() != "--resume") args.push_back("--resume");
    }
    args.erase(args.begin());
    const auto r = shot(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(byAddress().size(), addresses.size());
    EXPECT_EQ(pictures(out, "."), addresses.size());
    // A page written is not asked for again; only those under way when stopped are (at
    // most one an engine, each time).
    int asked = 0;
    for (int i = 0; i < 12; ++i) asked += requested("/p" + std::to_string(i));
    EXPECT_LE(asked, 12 + 2 * 2);
}

TEST_F(Batch, TheIndexShowsEveryPageFromTheDiskAlone) {
    const std::uint32_t colours[] = {0xff0000, 0x00a000, 0x0000ff, 0xff8000};
    std::vector<std::string> addresses;
    for (int i = 0; i < 4; ++i) {
        page("/s" + std::to_string(i), colours[i], "Page <" + std::to_string(i) + "> & co");
        addresses.push_back(server.url("/s" + std::to_string(i)));
    }
    const std::string refused = support::unreachableUrl("/down");
    auto args = batch({addresses[0], addresses[1], refused, addresses[2]}, out.dir());
    args.push_back("--index");
    EXPECT_EQ(shot(args).status, 1);
    // One page more, resumed: the sheet has them all, the earlier ones with their thumbnails.
    args = batch({addresses[0], addresses[1], refused, addresses[2], addresses[3]}, out.dir());
    args.insert(args.end(), {"--index", "--resume"});
    EXPECT_EQ(shot(args).status, 1);
    auto reported = byAddress();
    for (int i = 0; i < 4; ++i) {
        const auto file = std::filesystem::path(reported[addresses[i]]["file"]);
        const auto thumb = support::readPicture(out.path("thumbs/" + file.stem().string() + ".jpg"));
        ASSERT_TRUE(thumb) << file;
        EXPECT_EQ(thumb->width, 320);
        EXPECT_TRUE(near(thumb->at(100, 100), colours[i])) << file << " " << hex(thumb->at(100, 100));
    }
    // Read by the engine from the disk: the cards, their words, and their pictures loaded.
    std::string reason = reported[refused]["message"];
    for (std::size_t at = 0; (at = reason.find_first_of("'\\", at)) != std::string::npos; at += 2) reason.insert(at, "\\");
    const std::string check =
        "const cards = [...document.querySelectorAll('.card')];"
        "if (cards.length !== 5) throw new Error('cards: ' + cards.length);"
        "const failed = document.querySelectorAll('.card.failed');"
        "if (failed.length !== 1 || !failed[0].textContent.includes('load-failed') ||"
        "    !failed[0].textContent.includes('" + reason + "'))"
        "  throw new Error('failure: ' + (failed[0] || {}).textContent);"
        "if (!cards[0].textContent.includes('Page <0> & co') || !cards[0].textContent.includes('1280 x 1500 px'))"
        "  throw new Error('first: ' + cards[0].textContent);"
        "const images = [...document.images];"
        "if (images.length !== 4) throw new Error('images: ' + images.length);"
        "return Promise.all(images.map(i => i.decode()));";
    const auto r = shot({"--script=" + check, "--selector=.card:nth-child(5) .thumb", "file://" + out.path("index.html"),
                         pages.path("card.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto card = support::readPicture(pages.path("card.png"));
    ASSERT_TRUE(card);
    EXPECT_TRUE(near(card->at(card->width / 2, card->height / 2), colours[3])) << hex(card->at(card->width / 2, card->height / 2));
}

TEST_F(Batch, ATerminalSeesTheLiveLineAndAPipeOrQuietRunNone) {
    std::vector<std::string> addresses;
    for (int i = 0; i < 3; ++i) {
        page("/t" + std::to_string(i), 0x808080, "t");
        addresses.push_back(server.url("/t" + std::to_string(i)));
    }
    const auto args = batch(addresses, out.dir());
    auto onTerminal = args;
    onTerminal.insert(onTerminal.begin(), kShot);
    const auto live = support::runInTerminal(onTerminal);
    EXPECT_EQ(live.status, 0) << live.out;
    for (const char* says : {"\r\033[K[0/3]  http://127.0.0.1:", "[1/3]", "[2/3]", "pages/s", "ETA 0:0", "3 of 3 pages written"})
        EXPECT_NE(live.out.find(says), std::string::npos) << says << " in " << live.out;
    // On a narrow terminal the line keeps within its width: the address is cut short.
    const auto narrow = support::runInTerminal(onTerminal, {}, 40);
    EXPECT_EQ(narrow.status, 0) << narrow.out;
    std::size_t lines = 0;
    for (std::size_t at = narrow.out.find("\r\033[K"); at != std::string::npos; ++lines) {
        const auto next = narrow.out.find_first_of("\r\n", at + 4);
        const auto line = narrow.out.substr(at + 4, next == std::string::npos ? std::string::npos : next - at - 4);
        if (line.rfind("[", 0) == 0) {  // not the summary after it
            EXPECT_LT(line.size(), 40u) << line;
        }
        at = narrow.out.find("\r\033[K", at + 4);
    }
    EXPECT_GE(lines, 3u) << narrow.out;
    EXPECT_NE(narrow.out.find("..."), std::string::npos) << narrow.out;
    onTerminal.push_back("-q");
    const auto quiet = support::runInTerminal(onTerminal);
    for (const auto& said : {quiet.out, shot(args).err}) {
        EXPECT_EQ(said.find("[1/3]"), std::string::npos) << said;
        EXPECT_EQ(said.find("\033[K"), std::string::npos) << said;
        EXPECT_NE(said.find("3 of 3 pages written"), std::string::npos) << said;
    }
}

}  // namespace
