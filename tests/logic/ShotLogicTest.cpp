// The capture command's own logic against a fake engine: options, names, lists,
// reports and exit statuses.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

#include "shot/Batch.h"
#include "shot/Options.h"
#include "shot/Run.h"
#include "shot/Worker.h"

namespace {

std::optional<shot::Options> parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vemo-shot");
    return shot::parseOptions(args).options;
}

TEST(ShotOptions, DefaultsShortAndLongFormsAndMistakes) {
    auto o = parse({"http://a.example/", "a.png"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->width, 1280);
    EXPECT_EQ(o->height, 1024);
    EXPECT_TRUE(o->warmUp);
    EXPECT_EQ(o->quality, 90);
    o = parse({"-w", "800", "--height=600", "--scale", "2", "--no-warm-up", "--quality=70", "-q", "u", "b.JPEG"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->width, 800);
    EXPECT_EQ(o->height, 600);
    EXPECT_EQ(o->scale, 2);
    EXPECT_FALSE(o->warmUp);
    EXPECT_EQ(o->quality, 70);
    EXPECT_TRUE(o->quiet);
    o = parse({"--list", "-", "--out-dir", "d", "--format", "jpg"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->batchFormat, capture::Format::Jpeg);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"u"}, {"u", "a.gif"}, {"--scale=3", "u", "a.png"}, {"--width=0", "u", "a.png"}, {"--width", "12x", "u", "a.png"},
             {"--list", "l"}, {"--list", "l", "--out-dir", "d", "u"}, {"--bogus", "u", "a.png"}, {"u", "a.png", "--timeout"}})
        EXPECT_FALSE(parse(bad)) << bad[0];
    EXPECT_TRUE(parse({"--help"})->help);
}

TEST(ShotNames, ReadableUniqueAndSafe) {
    std::set<std::string> taken;
    EXPECT_EQ(shot::fileNameFor("https://docs.example.org/a/b c.html?x=1#top", ".png", taken),
              "docs.example.org_a_b_c.html_x_1_top.png");
    EXPECT_EQ(shot::fileNameFor("https://docs.example.org/a/b c.html?x=1#top", ".png", taken),
              "docs.example.org_a_b_c.html_x_1_top-2.png");
    EXPECT_EQ(shot::fileNameFor("HTTPS://DOCS.example.org/a/b%20c.html?x=1#top", ".png", taken).find('/'), std::string::npos);
    for (const std::string& hostile : std::vector<std::string>{"file:///../../etc/passwd", "../../x", "..", "/", "", "http://.hidden/",
                                      "http://a/" + std::string(500, 'z')}) {
        const auto name = shot::fileNameFor(hostile, ".png", taken);
        EXPECT_EQ(name.find('/'), std::string::npos) << hostile;
        EXPECT_NE(name[0], '.') << hostile;
        EXPECT_EQ(name.find(".."), std::string::npos) << hostile;
        EXPECT_LE(name.size(), 130u) << hostile;
    }
    EXPECT_NE(shot::fileNameFor("http://a/" + std::string(500, 'z') + "1", ".png", taken),
              shot::fileNameFor("http://a/" + std::string(500, 'z') + "2", ".png", taken));
}

TEST(ShotList, SkipsBlanksAndComments) {
    std::istringstream in("# pages\n\nhttp://a/\n   http://b/  \n\t# not this\nhttp://c/\r\n");
    EXPECT_EQ(shot::readList(in), (std::vector<std::string>{"http://a/", "http://b/", "http://c/"}));
}

// Pages of a given height, or the failure named for their address.
using Outcome = engine::ShotResult::Outcome;

class FakeEngine : public engine::IShotEngine {
public:
    engine::ShotResult photograph(const engine::ShotRequest& r) override {
        requests.push_back(r);
        engine::ShotResult res;
        if (auto it = failures.find(r.address); it != failures.end()) {
            res.outcome = it->second;
            res.failure = {engine::LoadError::Other, "no"};
            return res;
        }
        if (auto it = slow.find(r.address); it != slow.end())
            std::this_thread::sleep_for(std::chrono::milliseconds(it->second));
        res.image = std::make_shared<capture::Image>(r.width * r.scale, heightFor(r.address), 0x336699);
        if (incomplete.count(r.address)) {
            res.outcome = Outcome::Incomplete;
            res.stillLoading = 1;
            res.firstMissing = "http://x/never.png";
        }
        if (onPhoto) onPhoto();
        return res;
    }
    int heightFor(const std::string& a) { return heights.count(a) ? heights[a] : 100; }
    std::map<std::string, Outcome> failures;
    std::map<std::string, int> heights, slow;
    std::set<std::string> incomplete;
    std::vector<engine::ShotRequest> requests;
    std::function<void()> onPhoto;
};

struct Folder {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vemo-shot-logic-" + std::to_string(::getpid()));
    Folder() { std::filesystem::create_directories(dir); }
    ~Folder() { std::filesystem::remove_all(dir); }
    std::string at(const std::string& n) const { return (dir / n).string(); }
};

int runWith(FakeEngine& engine, std::vector<std::string> args, std::string& err, std::atomic<bool>* stop = nullptr) {
    std::ostringstream out;
    std::atomic<bool> never{false};
    const int status = shot::run(*parse(std::move(args)), engine, {out, false}, stop ? *stop : never);
    err = out.str();
    return status;
}

TEST(ShotRun, ExitStatusesSayWhatWentWrong) {
    Folder f;
    FakeEngine e;
    std::string err;
    e.failures = {{"refused", Outcome::LoadFailed}, {"hung", Outcome::TimedOut}};
    EXPECT_EQ(runWith(e, {"ok", f.at("a.png")}, err), shot::kExitOk);
    EXPECT_TRUE(err.empty()) << err;
    EXPECT_EQ(runWith(e, {"refused", f.at("b.png")}, err), shot::kExitLoadFailed);
    EXPECT_EQ(runWith(e, {"hung", f.at("b.png")}, err), shot::kExitTimedOut);
    EXPECT_EQ(runWith(e, {"ok", f.at("missing/b.png")}, err), shot::kExitWriteFailed);
    e.heights["tall"] = 70000;
    EXPECT_EQ(runWith(e, {"tall", f.at("t.jpg")}, err), shot::kExitTooLarge);
    EXPECT_NE(err.find("JPEG holds at most 65535 x 65535 px: write it as PNG instead"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(f.at("t.jpg")));
    EXPECT_FALSE(std::filesystem::exists(f.at("b.png")));
    // The request carries the options.
    runWith(e, {"--width=900", "--height=700", "--scale=2", "--wait=5", "--timeout=7", "--no-warm-up", "ok", f.at("c.png")}, err);
    const auto& r = e.requests.back();
    EXPECT_EQ(r.width, 900);
    EXPECT_EQ(r.height, 700);
    EXPECT_EQ(r.scale, 2);
    EXPECT_EQ(r.waitMs, 5);
    EXPECT_EQ(r.timeoutMs, 7000);
    EXPECT_FALSE(r.warmUp);
}

TEST(ShotRun, BatchWritesWhatItCanReportsAllAndStopsWhenInterrupted) {
    Folder f;
    std::ofstream(f.at("list")) << "a\nrefused\nb\n# c\nb\n";
    std::filesystem::create_directory(f.at("out"));
    FakeEngine e;
    e.failures = {{"refused", Outcome::LoadFailed}};
    std::string err;
    EXPECT_EQ(runWith(e, {"--list", f.at("list"), "--out-dir", f.at("out"), "--report", f.at("r.jsonl"), "--format=bmp"}, err),
              shot::kExitSomeFailed);
    EXPECT_TRUE(std::filesystem::exists(f.at("out/a.bmp")));
    EXPECT_TRUE(std::filesystem::exists(f.at("out/b.bmp")));
    EXPECT_TRUE(std::filesystem::exists(f.at("out/b-2.bmp")));
    EXPECT_NE(err.find("3 of 4 pages written, 1 failed"), std::string::npos) << err;
    std::ifstream report(f.at("r.jsonl"));
    std::string line;
    int lines = 0;
    while (std::getline(report, line)) ++lines;
    EXPECT_EQ(lines, 4);

    std::atomic<bool> stop{false};
    e.onPhoto = [&] { stop = true; };  // Ctrl+C during the first page
    std::filesystem::remove_all(f.at("out"));
    std::filesystem::create_directory(f.at("out"));
    EXPECT_EQ(runWith(e, {"--list", f.at("list"), "--out-dir", f.at("out")}, err, &stop), shot::kExitInterrupted);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.at("out")), {}), 1);  // the page under way is finished
    EXPECT_NE(err.find("interrupted"), std::string::npos);
}

TEST(ShotRun, APagePhotographedWhileStillLoadingIsWrittenAndSaidSoAndEachPageTimedAlone) {
    Folder f;
    std::ofstream(f.at("list")) << "quick\nslow\n";
    std::filesystem::create_directory(f.at("out"));
    FakeEngine e;
    e.incomplete = {"quick"};
    e.slow = {{"slow", 400}};
    std::string err;
    EXPECT_EQ(runWith(e, {"--list", f.at("list"), "--out-dir", f.at("out"), "--report", f.at("r.jsonl")}, err),
              shot::kExitIncomplete);
    EXPECT_TRUE(std::filesystem::exists(f.at("out/quick.png")));
    EXPECT_NE(err.find("1 image was still loading (http://x/never.png)"), std::string::npos) << err;
    std::ifstream report(f.at("r.jsonl"));
    std::string quick, slow;
    std::getline(report, quick);
    std::getline(report, slow);
    EXPECT_NE(quick.find("\"status\":\"incomplete\""), std::string::npos) << quick;
    EXPECT_NE(quick.find("\"file\":\"" + f.at("out/quick.png") + "\""), std::string::npos) << quick;
    // The first page's time is its own, not the second page's capture as well.
    const auto ms = [](const std::string& line) { return std::stol(line.substr(line.find("\"milliseconds\":") + 15)); };
    EXPECT_LT(ms(quick), 300) << quick;
    EXPECT_GE(ms(slow), 400) << slow;
    EXPECT_EQ(runWith(e, {"quick", f.at("one.png")}, err), shot::kExitIncomplete);
}

TEST(ShotRun, ATerminalSeesOneLiveLineAndQuietOrPipedOutputOnlyFailuresAndTheSummary) {
    Folder f;
    std::ofstream(f.at("list")) << "a\nrefused\nb\n";
    std::filesystem::create_directory(f.at("out"));
    FakeEngine e;
    e.failures = {{"refused", Outcome::LoadFailed}};
    std::atomic<bool> never{false};
    auto runOn = [&](bool live, std::vector<std::string> extra, std::function<int()> columns = [] { return 80; }) {
        std::ostringstream out;
        std::vector<std::string> args = {"--list", f.at("list"), "--out-dir", f.at("out")};
        args.insert(args.end(), extra.begin(), extra.end());
        shot::run(*parse(args), e, {out, live, columns}, never);
        return out.str();
    };
    const auto live = runOn(true, {});
    EXPECT_NE(live.find("\r\033[K[0/3]"), std::string::npos) << live;
    EXPECT_NE(live.find("[2/3]"), std::string::npos);
    EXPECT_NE(live.find("refused: no (load-failed)"), std::string::npos);
    EXPECT_NE(live.find("2 of 3 pages written, 1 failed"), std::string::npos);
    // A terminal made narrower during the run: the lines after it fit it.
    int asked = 0;
    const auto narrowed = runOn(true, {}, [&] { return ++asked == 1 ? 80 : 12; });
    EXPECT_GT(asked, 2);
    std::size_t lines = 0;
    for (std::size_t at = narrowed.find("\r\033[K["); at != std::string::npos; at = narrowed.find("\r\033[K[", at + 1)) {
        const auto line = narrowed.substr(at + 4, narrowed.find_first_of("\r\n", at + 4) - at - 4);
        if (lines++ > 0) {
            EXPECT_LE(line.size(), 11u) << line;
        }
    }
    EXPECT_GT(lines, 2u);
    for (const auto& quiet : {runOn(true, {"--quiet"}), runOn(false, {})}) {
        EXPECT_EQ(quiet.find('\r'), std::string::npos) << quiet;
        EXPECT_EQ(quiet.find("[0/3]"), std::string::npos);
        EXPECT_NE(quiet.find("refused: no (load-failed)"), std::string::npos);
        EXPECT_NE(quiet.find("2 of 3 pages written, 1 failed"), std::string::npos);
    }
}

}  // namespace

namespace {

// What is said of a page counts its things in words that agree with the count.
TEST(ShotWords, CountsAgreeWithTheirNouns) {
    using O = engine::ShotResult::Outcome;
    struct Case {
        int refused, logins, loading;
        const char* said;
    };
    const Case cases[] = {
        {1, 0, 0, "1 request to an address pages may not reach was refused (the first: http://10.0.0.1/)"},
        {3, 0, 0, "3 requests to addresses pages may not reach were refused (the first: http://10.0.0.1/)"},
        {0, 1, 0, "1 resource was left out, as another site than the page's asked for a login (the first: http://b/)"},
        {0, 2, 0, "2 resources were left out, as another site than the page's asked for a login (the first: http://b/)"},
        {0, 0, 1, "photographed at the time limit while 1 image was still loading (http://c/i.png)"},
        {0, 0, 4, "photographed at the time limit while 4 images were still loading (http://c/i.png)"},
    };
    for (const auto& c : cases) {
        engine::ShotResult r;
        r.outcome = c.loading ? O::Incomplete : O::Ok;
        r.refused = c.refused;
        r.firstRefused = "http://10.0.0.1/";
        r.loginsSkipped = c.logins;
        r.firstLoginSkipped = "http://b/";
        r.stillLoading = c.loading;
        r.firstMissing = "http://c/i.png";
        EXPECT_EQ(shot::describe(r).message, c.said);
    }
}

}  // namespace
