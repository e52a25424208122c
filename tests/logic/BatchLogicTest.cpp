// Batches' own logic without an engine: the report's lines written and read back, what
// a resumed batch takes as done, the progress line, thumbnails and the contact sheet.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "capture/Thumbnail.h"
#include "shot/Batch.h"
#include "shot/Index.h"
#include "shot/Ledger.h"
#include "shot/Options.h"
#include "shot/Progress.h"
#include "shot/Report.h"
#include "shot/Run.h"

namespace {

using shot::PageReport;
using shot::Status;
namespace fs = std::filesystem;

struct Folder {
    fs::path dir = fs::temp_directory_path() / ("vemo-batch-logic-" + std::to_string(::getpid()));
    Folder() { fs::create_directories(dir); }
    ~Folder() { fs::remove_all(dir); }
    std::string at(const std::string& n) const { return (dir / n).string(); }
};

PageReport fullReport() {
    PageReport p;
    p.address = "http://a.example/\"q\"\\?x=1&y=<2>";
    p.file = "/out/a.png";
    p.width = 1280;
    p.height = 40000;
    p.milliseconds = 1234;
    p.status = Status::Incomplete;
    p.message = "line\nnext\x01 \xe4\xb8\xad\xe6\x96\x87";
    p.finalAddress = "http://b.example/landed";
    p.title = "Title \"with\" <angles> & tabs\t";
    p.httpStatus = 404;
    p.stillLoading = 2;
    p.firstMissing = "http://a.example/never.png";
    p.refused = 3;
    p.firstRefused = "10.0.0.1:80";
    p.stillGrowing = true;
    return p;
}

void expectSame(const PageReport& a, const PageReport& b) {
    EXPECT_EQ(a.address, b.address);
    EXPECT_EQ(a.file, b.file);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.milliseconds, b.milliseconds);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.message, b.message);
    EXPECT_EQ(a.finalAddress, b.finalAddress);
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.httpStatus, b.httpStatus);
    EXPECT_EQ(a.stillLoading, b.stillLoading);
    EXPECT_EQ(a.firstMissing, b.firstMissing);
    EXPECT_EQ(a.refused, b.refused);
    EXPECT_EQ(a.firstRefused, b.firstRefused);
    EXPECT_EQ(a.stillGrowing, b.stillGrowing);
}

TEST(BatchReport, EveryFieldGoesThroughOneLineAndBack) {
    const auto full = fullReport();
    const auto line = shot::reportJson(full);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.find("\"status\":\"incomplete\""), std::string::npos) << line;
    const auto back = shot::parseReport(line);
    ASSERT_TRUE(back) << line;
    expectSame(*back, full);
    for (Status s : {Status::Ok, Status::LoadFailed, Status::TimedOut, Status::TooLarge, Status::WriteFailed,
                     Status::Interrupted, Status::BadRequest, Status::NoElement, Status::ScriptFailed}) {
        PageReport p;
        p.address = "a";
        p.status = s;
        const auto again = shot::parseReport(shot::reportJson(p));
        ASSERT_TRUE(again) << shot::statusName(s);
        EXPECT_EQ(again->status, s);
    }
    // Bytes that are no text (an address from a list, a title) still make a valid line.
    PageReport odd;
    odd.address = "http://a/\xff\xfe";
    ASSERT_TRUE(shot::parseReport(shot::reportJson(odd)));
    // A line of an earlier version, with the first fields only.
    const auto old = shot::parseReport("{\"address\":\"http://a/\",\"file\":\"/o/a.png\",\"width\":10,\"height\":20,"
                                       "\"milliseconds\":30,\"status\":\"ok\",\"message\":\"\"}");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->file, "/o/a.png");
    EXPECT_EQ(old->height, 20);
}

TEST(BatchReport, LinesThatAreNoPagesReportAreRefused) {
    const std::string whole = shot::reportJson(fullReport());
    for (const std::string& bad : std::vector<std::string>{
             "", "{", "[]", "null", "\"ok\"", whole.substr(0, whole.size() / 2), "{\"status\":\"ok\"}",
             "{\"address\":\"a\"}", "{\"address\":\"a\",\"status\":\"fine\"}", "{\"address\":1,\"status\":\"ok\"}",
             "{\"address\":\"a\",\"status\":\"ok\",\"width\":\"10\"}",
             "{\"address\":\"a\",\"status\":\"ok\",\"width\":99999999999}",
             "{\"address\":\"a\",\"status\":\"ok\",\"stillGrowing\":1}"})
        EXPECT_FALSE(shot::parseReport(bad)) << bad;
}

TEST(BatchResume, OnlyPagesWrittenToTheSameFileThatIsStillThereAreDone) {
    Folder f;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png", "d-2.png", "f.png"}) std::ofstream(f.at(name)) << "x";
    const std::vector<shot::BatchPage> pages = {{"http://a/", f.at("a.png")}, {"http://b/", f.at("b.png")},
                                                {"http://c/", f.at("c.png")}, {"http://d/", f.at("d.png")},
                                                {"http://d/", f.at("d-2.png")}, {"http://e/", f.at("e.png")},
                                                {"http://f/", f.at("f.png")}};
    auto line = [](const std::string& address, const std::string& file, Status s) {
        PageReport p;
        p.address = address;
        p.file = file;
        p.status = s;
        return shot::reportJson(p) + "\n";
    };
    std::istringstream report(line("http://a/", f.at("a.png"), Status::Ok) +
                              line("http://b/", f.at("b.png"), Status::LoadFailed) +   // failed
                              line("http://c/", f.at("other.png"), Status::Ok) +       // another file
                              line("http://d/", f.at("d-2.png"), Status::Incomplete) + // the second of two
                              line("http://d/", f.at("./d.png"), Status::Ok) +         // the same file, named otherwise
                              line("http://e/", f.at("e.png"), Status::Ok) +           // its file is gone
                              line("http://f/", f.at("f.png"), Status::Ok).substr(0, 20) + "\n");
    const auto done = shot::writtenBefore(pages, report);
    ASSERT_EQ(done.size(), pages.size());
    const std::vector<bool> expected = {true, false, false, true, true, false, false};
    for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(done[i].has_value(), expected[i]) << pages[i].path;
    EXPECT_EQ(done[4]->status, Status::Incomplete);
}

TEST(BatchOptions, ResumeAndIndexBelongToABatch) {
    auto parse = [](std::vector<std::string> args) {
        args.insert(args.begin(), "vemo-shot");
        return shot::parseOptions(args);
    };
    auto ok = parse({"--list=l", "--out-dir=d", "--report=r", "--resume", "--index"});
    ASSERT_TRUE(ok.options) << ok.error;
    EXPECT_TRUE(ok.options->resume);
    EXPECT_TRUE(ok.options->index);
    EXPECT_NE(parse({"--list=l", "--out-dir=d", "--resume"}).error.find("--report"), std::string::npos);
    EXPECT_NE(parse({"--index", "http://a/", "a.png"}).error.find("batch"), std::string::npos);
    EXPECT_NE(parse({"--resume", "--report=r", "http://a/", "a.png"}).error.find("batch"), std::string::npos);
}

TEST(BatchProgress, TheLineSaysHowFarHowFastAndFitsTheTerminal) {
    struct Case {
        shot::ProgressCounts counts;
        int columns;
        std::vector<std::string> says, never;
    };
    const std::string address = "http://docs.example.org/" + std::string(200, 'a');
    const Case cases[] = {
        {{0, 40, 0, 0}, 80, {"[0/40]", "http://docs.example.org/aaa", "..."}, {"failed", "pages/s", "ETA"}},
        {{10, 40, 2, 2.0}, 80, {"[10/40]", "2 failed", "2.0 pages/s", "ETA 0:15"}, {}},
        {{10, 7210, 0, 2.0}, 120, {"ETA 1:00:00"}, {"failed"}},
        {{40, 40, 0, 1.5}, 80, {"[40/40]", "1.5 pages/s"}, {"ETA"}},
        {{3, 9, 1, 0.5}, 20, {"[3/9]"}, {}},
        {{3, 9, 1, 0.5}, 12, {"[3/9]"}, {"ETA"}},  // a narrow terminal: the line is cut, never wrapped
    };
    for (const auto& c : cases) {
        const auto line = shot::progressLine(c.counts, address, c.columns);
        EXPECT_LE(line.size(), static_cast<std::size_t>(c.columns - 1)) << line;
        for (const auto& s : c.says) EXPECT_NE(line.find(s), std::string::npos) << s << " in " << line;
        for (const auto& s : c.never) EXPECT_EQ(line.find(s), std::string::npos) << s << " in " << line;
    }
    EXPECT_EQ(shot::progressLine({1, 2, 0, 0}, "http://a/", 80), "[1/2]  http://a/");
}

// Several engines have several pages under way: the line counts the pages finished.
TEST(BatchProgress, PagesFinishedAreCountedNotPagesBegun) {
    shot::Options o;
    o.list = "list.txt";
    std::ostringstream err;
    shot::Ledger ledger(o, {err, true}, {{"http://a/", "a.png"}, {"http://b/", "b.png"}, {"http://c/", "c.png"}}, {});
    ledger.begin(0);
    ledger.begin(1);
    EXPECT_EQ(err.str().find("[1/3]"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("[0/3]  http://b/"), std::string::npos) << err.str();
    PageReport done;
    done.status = Status::Ok;
    ledger.finish(1, done);
    EXPECT_NE(err.str().find("[1/3]"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("[2/3]"), std::string::npos) << err.str();
}

// One page is said as one, in the summary and on the contact sheet.
TEST(BatchProgress, OnePageIsSaidAsOne) {
    shot::Options o;
    o.list = "list.txt";
    std::ostringstream err;
    shot::Ledger ledger(o, {err, false}, {{"http://a/", "a.png"}}, {});
    ledger.begin(0);
    PageReport done;
    done.status = Status::Ok;
    ledger.finish(0, done);
    ledger.end(false);
    EXPECT_NE(err.str().find("1 of 1 page written, 0 failed"), std::string::npos) << err.str();
    const auto sheet = shot::indexPage({{done, "a.png", ""}});
    EXPECT_NE(sheet.find("1 page: 1 written, 0 failed"), std::string::npos) << sheet;
}

// A picture of colour bands `rows` tall each, and a pixel pattern in the first.
std::shared_ptr<capture::Image> picture(int width, const std::vector<std::pair<int, std::uint32_t>>& bands) {
    int height = 0;
    for (const auto& b : bands) height += b.first;
    auto image = std::make_shared<capture::Image>(width, height, 0);
    int top = 0;
    for (const auto& [rows, colour] : bands) {
        std::uint32_t* p = image->appendOwned(top, rows);
        for (long i = 0; i < static_cast<long>(width) * rows; ++i) p[i] = colour;
        top += rows;
    }
    return image;
}

TEST(BatchThumbnail, TheTopScaledDownByTheMeanOfWhatEachPixelCovers) {
    // 1280 wide: four pixels to one; the red top fills the thumbnail, the blue below is cut.
    auto t = capture::thumbnail(*picture(1280, {{2000, 0xff0000}, {1000, 0x0000ff}}), 320, 240);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->width(), 320);
    EXPECT_EQ(t->height(), 240);
    EXPECT_EQ(t->at(0, 0), 0xff0000u);
    EXPECT_EQ(t->at(319, 239), 0xff0000u);
    // Four rows of each colour become one pixel between them; a short page a short thumbnail.
    t = capture::thumbnail(*picture(1280, {{2, 0x000000}, {2, 0xffffff}, {4, 0x204060}}), 320, 240);
    EXPECT_EQ(t->height(), 2);
    EXPECT_EQ(t->at(100, 0), 0x808080u);
    EXPECT_EQ(t->at(100, 1), 0x204060u);
    // Narrower than the thumbnail: left as it is.
    t = capture::thumbnail(*picture(100, {{50, 0x00ff00}}), 320, 240);
    EXPECT_EQ(t->width(), 100);
    EXPECT_EQ(t->height(), 50);
    // Transparent (premultiplied): laid on white.
    auto clear = picture(640, {{100, 0x80000000}});
    clear->setAlpha(true);
    t = capture::thumbnail(*clear, 320, 240);
    EXPECT_EQ(t->at(5, 5), 0x7f7f7fu);
    EXPECT_FALSE(capture::thumbnail(capture::Image(0, 0, 0), 320, 240));
}

TEST(BatchIndex, CardsSayEveryPageWithItsTextEscapedAndLinksRelative) {
    auto ok = fullReport();
    ok.status = Status::Ok;
    ok.title = "<script>alert('x')</script>";
    auto failed = fullReport();
    failed.status = Status::LoadFailed;
    failed.file.clear();
    failed.title.clear();
    failed.message = "the engine refused <it>";
    const auto page = shot::indexPage({{ok, "a b:c.png", "thumbs/a b:c.jpg"}, {failed, {}, {}}});
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("href=\"./a%20b%3Ac.png\""), std::string::npos) << page;
    EXPECT_NE(page.find("src=\"./thumbs/a%20b%3Ac.jpg\""), std::string::npos);
    EXPECT_NE(page.find("the engine refused &lt;it&gt;"), std::string::npos);
    EXPECT_NE(page.find("class=\"card failed\""), std::string::npos);
    EXPECT_NE(page.find("2 pages: 1 written, 1 failed"), std::string::npos);
    EXPECT_NE(page.find("HTTP 404"), std::string::npos);
    EXPECT_EQ(page.find("href=\"http"), std::string::npos) << "addresses are text, not links";
}

// The sheet shows a small picture made after its page's picture: not one an earlier run
// left beside a picture written again, nor a folder that holds its name.
TEST(BatchIndex, OnlyASmallPictureMadeAfterItsPictureIsShown) {
    Folder f;
    fs::create_directories(f.at("thumbs/c.jpg"));
    std::vector<PageReport> pages;
    for (const char* name : {"a", "b", "c"}) {
        std::ofstream(f.at(std::string(name) + ".png")) << "picture";
        if (name[0] != 'c') std::ofstream(f.at(std::string("thumbs/") + name + ".jpg")) << "small";
        PageReport p;
        p.status = Status::Ok;
        p.file = f.at(std::string(name) + ".png");
        pages.push_back(p);
    }
    const auto now = fs::last_write_time(f.at("a.png"));
    fs::last_write_time(f.at("thumbs/b.jpg"), now - std::chrono::hours(1));
    ASSERT_FALSE(shot::writeIndex(f.dir.string(), pages));
    std::ifstream in(f.at("index.html"));
    const std::string sheet{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(sheet.find("src=\"./thumbs/a.jpg\""), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find("thumbs/b.jpg"), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find("thumbs/c.jpg"), std::string::npos) << sheet;
}

}  // namespace
