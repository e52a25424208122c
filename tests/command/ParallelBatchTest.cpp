// Batches photographed by several engines at once, and through a running service: the
// same pictures as one engine gives, and a report with one whole line a page whatever
// order the pages finish in.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <tuple>
#include <thread>

#include "capture/ImageFiles.h"
#include "shot/Batch.h"
#include "shot/Report.h"
#include "tests/support/Command.h"
#include "tests/support/HttpServer.h"
#include "tests/support/ServiceProcess.h"

namespace {

struct Batch {
    support::Outcome run;
    std::map<std::string, shot::PageReport> lines;  // by address
    std::size_t count = 0;
};

class ParallelBatch : public ::testing::Test {
protected:
    ParallelBatch() {
        const char* colours[] = {"#f00", "#0f0", "#00f", "#ff0", "#0ff", "#f0f"};
        for (int i = 0; i < 6; ++i)
            pages.serve("/p" + std::to_string(i), std::string("<!doctype html><title>page ") + std::to_string(i) +
                                                      "</title><body style='margin:0;background:" + colours[i] +
                                                      "'><div style='height:" + std::to_string(1500 + 100 * i) + "px'></div>");
        std::ofstream list(dir.path("list"));
        for (int i = 0; i < 6; ++i) list << pages.url("/p" + std::to_string(i)) << "\n";
        list << pages.url("/missing") << "\n";  // a 404 page, photographed with its status
        list << "http://127.0.0.1:25/\n";       // refused
    }
    // The folder is named as a user types it: from where the command runs.
    Batch batch(const std::string& name, std::vector<std::string> more, const std::string& list = "list") {
        std::vector<std::string> argv = {VEMO_SHOT, "-q", "--list", dir.path(list), "--out-dir",
                                         std::filesystem::relative(dir.path(name)).string(), "--report",
                                         dir.path(name + ".jsonl")};
        argv.insert(argv.end(), more.begin(), more.end());
        Batch b{support::runCommand(argv), {}, 0};
        std::ifstream report(dir.path(name + ".jsonl"));
        for (std::string line; std::getline(report, line); ++b.count)
            if (auto r = shot::parseReport(line)) b.lines[r->address] = *r;
        return b;
    }
    support::HttpServer pages;
    support::TempDir dir;
};

void expectSameBatches(const Batch& a, const Batch& b, const std::string& what) {
    ASSERT_EQ(a.count, 8u) << what;
    ASSERT_EQ(b.count, 8u) << what;
    for (const auto& [address, line] : a.lines) {
        const auto& other = b.lines.at(address);
        EXPECT_EQ(line.status, other.status) << what << " " << address;
        EXPECT_EQ(line.title, other.title) << what << " " << address;
        EXPECT_EQ(line.httpStatus, other.httpStatus) << what << " " << address;
        EXPECT_EQ(line.finalAddress, other.finalAddress) << what << " " << address;
        if (!shot::written(line.status)) continue;
        const auto p = support::readPicture(line.file), q = support::readPicture(other.file);
        ASSERT_TRUE(p && q) << what << " " << address;
        EXPECT_EQ(p->width, q->width) << what;
        EXPECT_EQ(p->height, q->height) << what;
        EXPECT_TRUE(p->pixels == q->pixels) << what << " " << address;
    }
}

TEST_F(ParallelBatch, TwoEnginesAndAServiceGiveWhatOneEngineGives) {
    const auto one = batch("one", {"--jobs=1"});
    EXPECT_EQ(one.run.status, 1) << one.run.err;  // one page refused
    ASSERT_EQ(one.count, 8u) << one.run.err;
    EXPECT_EQ(one.lines.at(pages.url("/p3")).title, "page 3");
    EXPECT_EQ(one.lines.at(pages.url("/missing")).httpStatus, 404);
    EXPECT_EQ(one.lines.at("http://127.0.0.1:25/").status, shot::Status::LoadFailed);
    const auto p = support::readPicture(one.lines.at(pages.url("/p2")).file);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->height, 1700);
    EXPECT_EQ(p->at(5, 1690), 0x0000ffu);

    const auto two = batch("two", {"--jobs=2"});
    EXPECT_EQ(two.run.status, 1) << two.run.err;
    expectSameBatches(one, two, "--jobs=2");

    // A service with one engine and no queue turns most requests away at first: the batch
    // asks again after each Retry-After.
    support::ServiceProcess service({"--jobs=1", "--queue=0", "--allow-private"});
    const std::string sentTo = "--service=http://127.0.0.1:" + std::to_string(service.port());
    const auto sent = batch("sent", {"--jobs=3", sentTo});
    EXPECT_EQ(sent.run.status, 1) << sent.run.err;
    expectSameBatches(one, sent, "--service");
    EXPECT_NE(service.log().find("POST /shot 503"), std::string::npos) << "no request was turned away";
    // A contact sheet of a batch sent to a service has the small pictures a local one has.
    const auto local = batch("local-index", {"--jobs=1", "--index"});
    const auto remote = batch("remote-index", {"--index", sentTo});
    std::size_t thumbnails = 0;
    for (const auto& [address, line] : local.lines) {
        if (!shot::written(line.status)) continue;
        const auto name = std::filesystem::path(line.file).filename().replace_extension(".jpg").string();
        const auto mine = support::readPicture(dir.path("local-index/thumbs/" + name));
        const auto sent = support::readPicture(dir.path("remote-index/thumbs/" + name));
        ASSERT_TRUE(mine && sent) << address;
        EXPECT_TRUE(mine->width == sent->width && mine->height == sent->height && mine->pixels == sent->pixels) << address;
        ++thumbnails;
    }
    EXPECT_EQ(thumbnails, 7u);
    std::ifstream sheet(dir.path("remote-index/index.html"));
    const std::string html{std::istreambuf_iterator<char>(sheet), {}};
    EXPECT_NE(html.find("thumbs/"), std::string::npos) << html;
    // A PDF batch's sheet shows each document's first page through every face; a resumed
    // one keeps those its first run made.
    std::ofstream(dir.path("pdf-first")) << pages.url("/p0") << "\n";
    std::ofstream(dir.path("pdfs")) << pages.url("/p0") << "\n" << pages.url("/p4") << "\n";
    EXPECT_EQ(batch("pdf-resumed", {"--format=pdf", "--index"}, "pdf-first").run.status, 0);
    const std::pair<const char*, std::uint32_t> shown[] = {{"/p0", 0xff0000}, {"/p4", 0x00ffff}};
    for (const auto& [name, face] : std::vector<std::pair<std::string, std::string>>{
             {"pdf-one", "--jobs=1"}, {"pdf-two", "--jobs=2"}, {"pdf-sent", sentTo}, {"pdf-resumed", "--resume"}}) {
        const auto b = batch(name, {face, "--format=pdf", "--index"}, "pdfs");
        ASSERT_EQ(b.run.status, 0) << name << b.run.err;
        for (const auto& [path, colour] : shown) {
            const auto file = std::filesystem::path(b.lines.at(pages.url(path)).file);
            const auto thumb = support::readPicture(dir.path(name + "/thumbs/" + file.stem().string() + ".jpg"));
            ASSERT_TRUE(thumb) << name << " " << file;
            // Each channel on the side of the page's: not white, not another page's.
            EXPECT_EQ(thumb->at(thumb->width / 2, thumb->height / 2) & 0x808080u, colour & 0x808080u) << name << " " << path;
        }
        std::ifstream pdfSheet(dir.path(name + "/index.html"));
        const std::string cards{std::istreambuf_iterator<char>(pdfSheet), {}};
        EXPECT_EQ(cards.find("thumb none"), std::string::npos) << name << cards;
    }
    // What a service cannot take is refused before anything is sent, not dropped.
    for (const char* own : {"--deny-private", "--allow-host=a.example", "--cookies=/dev/null"}) {
        const auto refused = batch("refused", {own, sentTo});
        EXPECT_EQ(refused.run.status, 2) << own << refused.run.err;
        EXPECT_EQ(refused.count, 0u) << own;
    }
}

// A small picture that cannot be written (a folder holds its name) leaves the page's
// picture written and is said, in the report and as the batch goes; the contact sheet
// shows that page without one rather than a picture that is not there: with an engine of
// the command's, through a service, and for a PDF.
TEST_F(ParallelBatch, ASmallPictureThatCannotBeWrittenIsSaidAndNotShown) {
    const std::string blocked = pages.url("/p1");
    std::ofstream(dir.path("two")) << pages.url("/p0") << "\n" << blocked << "\n";
    support::ServiceProcess service({"--jobs=1", "--allow-private"});
    const std::string sentTo = "--service=http://127.0.0.1:" + std::to_string(service.port());
    for (const auto& [name, face, format] : std::vector<std::tuple<std::string, std::string, capture::Format>>{
             {"blocked-one", "--jobs=1", capture::Format::Png},
             {"blocked-sent", sentTo, capture::Format::Png},
             {"blocked-pdf", "--jobs=1", capture::Format::Pdf}}) {
        std::set<std::string> taken;
        const auto file = std::filesystem::path(shot::fileNameFor(blocked, capture::formatExtension(format), taken));
        std::filesystem::create_directories(dir.path(name + "/thumbs/" + file.stem().string() + ".jpg/kept"));
        const auto b = batch(name, {face, "--format=" + std::string(capture::formatExtension(format) + 1), "--index"}, "two");
        EXPECT_EQ(b.run.status, 0) << name << b.run.err;
        ASSERT_EQ(b.count, 2u) << name << b.run.err;
        const auto& line = b.lines.at(blocked);
        EXPECT_EQ(line.status, shot::Status::Ok) << name;
        EXPECT_TRUE(std::filesystem::exists(line.file)) << name;
        EXPECT_NE(line.message.find("no small picture for the contact sheet"), std::string::npos) << name << line.message;
        EXPECT_NE(b.run.err.find(blocked + ": no small picture"), std::string::npos) << name << b.run.err;
        EXPECT_EQ(b.lines.at(pages.url("/p0")).message, "") << name;
        std::ifstream sheet(dir.path(name + "/index.html"));
        const std::string html{std::istreambuf_iterator<char>(sheet), {}};
        auto count = [&](const std::string& what) {
            std::size_t n = 0;
            for (auto at = html.find(what); at != std::string::npos; at = html.find(what, at + 1)) ++n;
            return n;
        };
        EXPECT_EQ(count("<img "), 1u) << name << html;
        EXPECT_EQ(count("thumb none"), 1u) << name << html;
    }
}

// A web process killed as its engine starts it, before it has said who it is, fails its
// page, not the batch: with one engine as with several.
TEST_F(ParallelBatch, AWebProcessKilledAsItStartsFailsItsPageNotTheBatch) {
    std::ofstream(dir.path("two")) << pages.url("/p0") << "\n" << pages.url("/p1") << "\n";
    for (const char* jobs : {"--jobs=1", "--jobs=2"}) {
        const std::string tag = support::uniqueTag(), out = dir.path(std::string("killed") + jobs);
        std::atomic<bool> killing{true};
        std::thread killer([&] {
            while (killing)
                for (pid_t pid : support::processesOf("WebKitWebProces", tag)) ::kill(pid, SIGKILL);
        });
        const auto run = support::runCommand({VEMO_SHOT, "-q", jobs, "--timeout=20", "--list", dir.path("two"),
                                              "--out-dir", out, "--report", out + ".jsonl"},
                                             {"VEMO_TEST_TAG=" + tag});
        killing = false;
        killer.join();
        EXPECT_EQ(run.status, 1) << jobs << run.err;
        std::ifstream report(out + ".jsonl");
        std::size_t failed = 0;
        for (std::string line; std::getline(report, line);)
            if (auto r = shot::parseReport(line); r && r->status == shot::Status::LoadFailed) {
                ++failed;
                EXPECT_NE(r->message.find("ended unexpectedly"), std::string::npos) << jobs << " " << r->message;
            }
        EXPECT_EQ(failed, 2u) << jobs << run.err;
    }
}

// Stopped with SIGTERM (as a supervisor stops it) while its pages are held by the page's
// own wait, every kind of batch stops them at once: it does not wait for them to end.
TEST_F(ParallelBatch, InterruptedEveryKindOfBatchStopsThePagesUnderWayAtOnce) {
    support::ServiceProcess service({"--jobs=2", "--max-timeout=180", "--allow-private"});
    const std::vector<std::pair<std::string, std::string>> faces = {
        {"one engine", "--jobs=1"},
        {"two engines", "--jobs=2"},
        {"a service", "--service=http://127.0.0.1:" + std::to_string(service.port())}};
    std::ofstream(dir.path("held")) << pages.url("/p0") << "\n" << pages.url("/p1") << "\n";
    for (const auto& [face, how] : faces) {
        const std::string out = dir.path("held-" + how.substr(2, 6));
        const auto asked = pages.requested().size();
        const std::string tag = support::uniqueTag();
        // Pictures at scale 2: a batch of several engines starts engines of that scale alone.
        const pid_t pid = support::startCommand({VEMO_SHOT, "--wait=110000", "--timeout=120", "--scale=2", how, "--list",
                                                 dir.path("held"), "--out-dir", out, "--report", out + ".jsonl"},
                                                {"VEMO_TEST_TAG=" + tag}, dir.path("err.txt"));
        // Under way: its engines have asked for the pages they now hold.
        ASSERT_TRUE(support::eventually([&] { return pages.requested().size() >= asked + (how == "--jobs=1" ? 1 : 2); }))
            << face;
        if (how == "--jobs=2")
            for (pid_t p : support::processesOf("vemo-shot", tag)) {
                std::ifstream cmdline("/proc/" + std::to_string(p) + "/cmdline");
                const std::string args{std::istreambuf_iterator<char>(cmdline), {}};
                EXPECT_EQ(args.find(std::string("--scale=1") + '\0'), std::string::npos) << face << ": an engine of scale 1";
            }
        ::kill(pid, SIGTERM);
        // It ends, waited for with a generous limit that is still well short of the time
        // the pages it holds would take (110 s).
        const auto status = support::waitCommand(pid, std::chrono::seconds(60));
        ASSERT_TRUE(status) << face << ": still running, its pages waited for";
        EXPECT_EQ(*status, 130) << face;
        std::error_code ec;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out, ec), std::filesystem::directory_iterator()), 0)
            << face << ": a page held to the end was written, or a part of one left";
        std::ifstream report(out + ".jsonl");
        std::size_t interrupted = 0;
        for (std::string line; std::getline(report, line);)
            if (auto r = shot::parseReport(line); r && r->status == shot::Status::Interrupted) {
                ++interrupted;
                EXPECT_GT(r->milliseconds, 0) << face << ": the time it was under way";
            }
        EXPECT_GE(interrupted, 1u) << face;
        std::ifstream said(dir.path("err.txt"));
        const std::string err{std::istreambuf_iterator<char>(said), {}};
        EXPECT_NE(err.find("/p0: interrupted\n"), std::string::npos) << face << ": " << err;
    }
    // The service's engines were freed with their callers.
    EXPECT_TRUE(support::eventually([&] {
        return service.get("/metrics").body.find("\nvemo_engines_busy 0") != std::string::npos;
    }));
}

}  // namespace
