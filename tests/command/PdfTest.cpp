// PDFs through the command and its batches, read back with poppler's tools: the paper,
// its pages and their sizes, the page's text as printed, the document's facts, outline
// and links, one page as tall as the document, and the options a PDF refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"
#include "tests/support/PdfFiles.h"
#include "tests/support/ServiceProcess.h"

namespace {

// 2400 CSS px tall whatever the fonts, its headings where the pages' ends are known.
const char* const kDocument = R"(<!doctype html><html><head><meta charset="utf-8"><title>Known Document</title>
<style>html, body { margin: 0 } body { background: #00cc00 } #doc { position: relative; height: 2400px }
#doc > * { position: absolute; left: 20px; margin: 0; font: 16px sans-serif; height: 30px }
@media print { .screen-only { display: none } } @media screen { .print-only { display: none } }</style></head>
<body><div id=doc>
<h1 style="top:10px">Opening words</h1>
<p style="top:60px">The quick brown fox jumps over the lazy dog. <a href="http://127.0.0.1:9/elsewhere">Elsewhere</a></p>
<p class=screen-only style="top:100px">Seen on screen only</p><p class=print-only style="top:140px">Kept for print only</p>
<h2 style="top:1200px">Middle part</h2><h3 style="top:1300px">Small part</h3><h2 style="top:2300px">Last part</h2>
<p id=lazy style="top:2350px"></p></div>
<script>new IntersectionObserver(e => { if (e[0].isIntersecting) lazy.textContent = 'Lazy words arrived'; })
  .observe(document.getElementById('lazy'));
// The engine hears the print's layout from a world of its own: the page cannot tell it one.
const tell = () => { try { webkit.messageHandlers.vemoPrinted.postMessage(
  {width: 800, height: 100, headings: [{level: 1, text: 'Forged', y: 0}], links: []}); } catch (e) {} };
matchMedia('print').addEventListener('change', () => { for (const ms of [0, 20, 60, 150]) setTimeout(tell, ms); });</script>)";

struct Paper {
    std::vector<std::string> args;
    std::pair<int, int> size;  // every page's but the last of one page as tall as the document
    std::size_t pages;
    unsigned background = 0x00cc00;  // in the middle of the first page
};

const Paper kPapers[] = {
    {{}, {595, 842}, 3},
    {{"--paper=Letter", "--no-backgrounds"}, {612, 792}, 3, 0xffffff},
    {{"--paper=a4", "--landscape"}, {842, 595}, 4},
    {{"--paper=100x150mm", "--margin=0"}, {283, 425}, 5},
    {{"--paper=A3", "--margin=0.5in,1cm,2cm,1cm"}, {842, 1191}, 2},
    {{"--paper=page", "--width=800"}, {640, 1920}, 1},
};

class Pdf : public ::testing::Test {
protected:
    support::Outcome shoot(const std::string& url, std::vector<std::string> args, const std::string& file) {
        args.insert(args.begin(), VEMO_SHOT);
        args.insert(args.end(), {url, file});
        return support::runCommand(args);
    }
    support::HttpServer server;
    support::TempDir out;
};

TEST_F(Pdf, EachPaperGivesItsPagesWithThePrintedTextFactsOutlineAndLinks) {
    server.serve("/doc", kDocument);
    const std::string url = server.url("/doc");
    int n = 0;
    for (const auto& p : kPapers) {
        const std::string what = ::testing::PrintToString(p.args), file = out.path("d" + std::to_string(++n) + ".pdf");
        const auto run = shoot(url, p.args, file);
        ASSERT_EQ(run.status, 0) << what << run.err;
        const auto pdf = support::readPdf(file);
        ASSERT_TRUE(pdf) << what;
        EXPECT_EQ(pdf->sizes, (std::vector<std::pair<int, int>>(p.pages, p.size))) << what;
        // The print style sheet applies, and the section the warm-up woke is there.
        for (const char* words : {"The quick brown fox", "Kept for print only", "Lazy words arrived"})
            EXPECT_NE(pdf->text.find(words), std::string::npos) << what << " lacks " << words << ":\n" << pdf->text;
        EXPECT_EQ(pdf->text.find("Seen on screen only"), std::string::npos) << what;
        EXPECT_EQ(pdf->title, "Known Document") << what;
        EXPECT_EQ(pdf->subject, url) << what;
        EXPECT_EQ(pdf->keywords, url) << what;
        EXPECT_FALSE(pdf->created.empty()) << what;
        EXPECT_EQ(pdf->links, std::vector<std::string>({"http://127.0.0.1:9/elsewhere"})) << what;
        EXPECT_EQ(support::pdfColourAt(file, 1, 0.5, 0.5), p.background) << what;
        EXPECT_GT(pdf->fonts, 0) << what;
        EXPECT_EQ(pdf->fontsEmbedded, pdf->fonts) << what;
    }
    // The outline follows the headings, each on the page it is printed on (A4: 981 CSS px a page).
    const auto a4 = support::readPdf(out.path("d1.pdf"));
    ASSERT_TRUE(a4);
    EXPECT_EQ(a4->outline, "1 1 Opening words\n2 2 Middle part\n3 2 Small part\n2 3 Last part\n");
}

TEST_F(Pdf, ForcedPageBreaksTakeTheOutlineAlongAndEachFontIsKeptOnce) {
    // The engine embeds a font again for each colour its text is printed in.
    const char* const colours[] = {"black", "red", "green", "blue", "purple", "teal"};
    std::string one, six;
    for (const char* c : colours) {
        one += std::string("<p>Words in ") + c + "</p>";
        six += std::string("<p style='color:") + c + "'>Words in " + c + "</p>";
    }
    auto document = [](const std::string& words) {
        return "<!doctype html><body style='font: 16px sans-serif'><h1>Opening</h1>" + words +
               "<h2 style='break-before: page'>Second chapter</h2><p>More words</p>"
               "<h2 style='page-break-before: always'>Third chapter</h2><div style='height:1500px'></div>"
               "<h2>Fourth chapter</h2><div style='break-inside: avoid; height: 900px'>Kept whole</div><h3>Last part</h3>";
    };
    server.serve("/one", document(one));
    server.serve("/six", document(six));
    ASSERT_EQ(shoot(server.url("/one"), {}, out.path("one.pdf")).status, 0);
    const auto run = shoot(server.url("/six"), {}, out.path("six.pdf"));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto pdf = support::readPdf(out.path("six.pdf"));
    ASSERT_TRUE(pdf);
    EXPECT_EQ(pdf->outline, "1 1 Opening\n2 2 Second chapter\n2 3 Third chapter\n2 4 Fourth chapter\n3 5 Last part\n");
    for (const char* c : colours) EXPECT_NE(pdf->text.find(std::string("Words in ") + c), std::string::npos) << c;
    EXPECT_EQ(pdf->fontsEmbedded, pdf->fonts);
    // Not five more copies of its font than the text in one colour.
    const auto inOneColour = support::readPdf(out.path("one.pdf"));
    ASSERT_TRUE(inOneColour);
    EXPECT_EQ(pdf->fontPrograms.size(), inOneColour->fontPrograms.size());
    EXPECT_GT(pdf->fonts, static_cast<int>(pdf->fontPrograms.size()));
}

TEST_F(Pdf, FontsAreCutToTheGlyphsShownAndDrawTheTextAsTheWholeFontsDo) {
    // Two fonts, plain and bold, in several colours; the digits only in a faded part, which
    // the engine draws apart (as a form) before it lays it on the page; Chinese in a font
    // from a collection, which the engine embeds whole (17 MB).
    server.serve("/fonts", R"(<!doctype html><meta charset="utf-8"><body style="font: 18px 'DejaVu Sans'">
<p>Plain words <b>bold words</b> <span style="color:red">red words</span> <span style="color:blue">blue</span></p>
<p style="font-family:'DejaVu Serif'">Serif words <b>and bold</b> <span style="color:green">in green</span></p>
<p style="opacity:0.5">Faded 0123456789 XYZ</p><p style="font-family:'WenQuanYi Zen Hei'">网页快照 中文</p>)");
    const auto run = shoot(server.url("/fonts"), {"--paper=A5"}, out.path("f.pdf"));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto pdf = support::readPdf(out.path("f.pdf"));
    ASSERT_TRUE(pdf);
    std::istringstream words(pdf->text);
    std::string text;
    for (std::string w; words >> w;) text += (text.empty() ? "" : " ") + w;
    EXPECT_EQ(text, "Plain words bold words red words blue Serif words and bold in green Faded 0123456789 XYZ 网页快照 中文");
    std::set<std::string> names;
    for (const auto& [name, bytes] : pdf->fontPrograms) {
        names.insert(name);
        const auto whole = std::filesystem::file_size(support::fontFile(name));
        EXPECT_LT(bytes, whole / 20) << name << " is not cut: " << bytes << " of " << whole << " bytes";
    }
    EXPECT_EQ(names, (std::set<std::string>{"DejaVuSans", "DejaVuSans-Bold", "DejaVuSerif", "DejaVuSerif-Bold", "WenQuanYiZenHei"}));
    // Drawn as with the fonts the engine embedded whole, pixel for pixel.
    ASSERT_TRUE(support::withWholeFonts(out.path("f.pdf"), out.path("whole.pdf")));
    const auto cut = support::pdfPages(out.path("f.pdf"), 100);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_TRUE(cut == support::pdfPages(out.path("whole.pdf"), 100));
}

TEST_F(Pdf, OnePageTallerThanReadersOpenGoesOnOverPagesOfThatHeight) {
    std::string parts;
    for (int i = 1; i <= 6; ++i) parts += "<div style='height:10000px'>Part " + std::to_string(i) + " begins</div>";
    server.serve("/tall", "<!doctype html><body style='margin:0'>" + parts);
    const auto run = shoot(server.url("/tall"), {"--paper=page", "--report=" + out.path("r.jsonl")}, out.path("t.pdf"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("goes on over 4 pages"), std::string::npos) << run.err;
    const auto pdf = support::readPdf(out.path("t.pdf"));
    ASSERT_TRUE(pdf);
    // 60 000 CSS px at the screen's 1280 px across 1024 pt: 48 000 pt, the last page what is left.
    const std::vector<std::pair<int, int>> sizes = {{1024, 14400}, {1024, 14400}, {1024, 14400}, {1024, 4800}};
    EXPECT_EQ(pdf->sizes, sizes);
    for (int i = 1; i <= 6; ++i)
        EXPECT_NE(pdf->text.find("Part " + std::to_string(i) + " begins"), std::string::npos) << i;
    std::ifstream report(out.path("r.jsonl"));
    const std::string line((std::istreambuf_iterator<char>(report)), {});
    EXPECT_NE(line.find("\"pages\":4"), std::string::npos) << line;
}

TEST_F(Pdf, OptionsOfPicturesAreRefusedAndStatusesKeepTheirMeanings) {
    server.serve("/doc", kDocument);
    server.stall("/never.png");
    server.serve("/stalled", "<!doctype html><body><p>Waiting words</p><img src='/never.png'>");
    const std::string url = server.url("/doc");
    struct Refused {
        std::vector<std::string> args;
        std::string file, said;
    };
    const Refused refused[] = {
        {{"--selector=h1"}, "r.pdf", "--selector does not go with a PDF"},
        {{"--clip=0,0,10,10"}, "r.pdf", "--clip does not go with a PDF"},
        {{"--transparent"}, "r.pdf", "--transparent does not go with a PDF"},
        {{"--quality=50"}, "r.pdf", "--quality does not go with a PDF"},
        {{"--scale=2"}, "r.pdf", "--scale does not go with a PDF"},
        {{"--paper=A4"}, "r.png", "--paper goes with a PDF"},
        {{"--paper=B7"}, "r.pdf", "--paper takes A4"},
        {{"--margin=3cm,x"}, "r.pdf", "--margin takes"},
        {{"--paper=2x2in", "--margin=0.6in"}, "r.pdf", "the margins leave less than an inch"},
        {{"--list=-", "--out-dir=" + out.path("b"), "--format=pdf", "--scale=2"}, "", "--scale does not go with a PDF"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> argv = {VEMO_SHOT};
        argv.insert(argv.end(), r.args.begin(), r.args.end());
        if (!r.file.empty()) argv.insert(argv.end(), {url, out.path(r.file)});
        const auto run = support::runCommand(argv);
        EXPECT_EQ(run.status, 2) << r.said;
        EXPECT_NE(run.err.find(r.said), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out.path(r.file.empty() ? "b" : r.file))) << r.said;
    }
    const auto failed = shoot(support::unreachableUrl("/gone"), {}, out.path("gone.pdf"));
    EXPECT_EQ(failed.status, 3) << failed.err;
    EXPECT_FALSE(std::filesystem::exists(out.path("gone.pdf")));
    // Written as it stood at the time limit, something still loading.
    const auto late = shoot(server.url("/stalled"), {"--timeout=6"}, out.path("late.pdf"));
    EXPECT_EQ(late.status, 7) << late.err;
    const auto pdf = support::readPdf(out.path("late.pdf"));
    ASSERT_TRUE(pdf);
    EXPECT_NE(pdf->text.find("Waiting words"), std::string::npos);
}

TEST_F(Pdf, BatchesWithEnginesOrAServiceWriteTheSameDocumentsAndShowTheirFirstPages) {
    server.serve("/one", kDocument);
    server.serve("/two", "<!doctype html><title>Two</title><h1>Second document</h1>");
    {
        std::ofstream list(out.path("list.txt"));
        list << server.url("/one") << "\n" << server.url("/two") << "\n";
    }
    support::ServiceProcess service({"--jobs=1", "--allow-private"});
    const std::vector<std::string> ways[] = {{"--jobs=2"}, {"--service=http://127.0.0.1:" + std::to_string(service.port())}};
    std::vector<std::vector<std::string>> written;
    for (const auto& way : ways) {
        const std::string dir = out.path("batch" + std::to_string(written.size()));
        std::vector<std::string> argv = {VEMO_SHOT, "--list=" + out.path("list.txt"), "--out-dir=" + dir, "--format=pdf",
                                         "--paper=A5", "--index", "--report=" + dir + ".jsonl"};
        argv.insert(argv.end(), way.begin(), way.end());
        const auto run = support::runCommand(argv);
        ASSERT_EQ(run.status, 0) << way[0] << run.err;
        std::vector<std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().extension() == ".pdf") files.push_back(e.path().string());
        std::sort(files.begin(), files.end());
        ASSERT_EQ(files.size(), 2u) << way[0];
        std::vector<std::string> bytes;
        for (const auto& f : files) {
            const auto pdf = support::readPdf(f);
            ASSERT_TRUE(pdf && !pdf->sizes.empty()) << f;
            EXPECT_EQ(pdf->sizes.front(), std::make_pair(420, 595)) << f;
            // Its fonts cut to the glyphs shown, as the command cuts them: whole, each is over 300 KB.
            EXPECT_FALSE(pdf->fontPrograms.empty()) << f;
            for (const auto& [name, size] : pdf->fontPrograms) EXPECT_LT(size, 40000u) << f << " " << name;
            // The contact sheet's small picture is the first page's.
            EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir) / "thumbs" /
                                                (std::filesystem::path(f).stem().string() + ".jpg"))) << f;
            std::ifstream in(f, std::ios::binary);
            bytes.push_back(support::withoutDates(std::string((std::istreambuf_iterator<char>(in)), {})));
        }
        written.push_back(bytes);
        std::ifstream index(dir + "/index.html"), report(dir + ".jsonl");
        const std::string sheet((std::istreambuf_iterator<char>(index)), {}), lines((std::istreambuf_iterator<char>(report)), {});
        EXPECT_NE(sheet.find("4 pages"), std::string::npos) << way[0];  // A5: 2400 CSS px at 673 a page
        EXPECT_NE(lines.find("\"pages\":4"), std::string::npos) << lines;

        // Resumed, the batch has nothing left to do.
        argv.push_back("--resume");
        const auto again = support::runCommand(argv);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_NE(again.err.find("2 of 2 pages written (2 of them before)"), std::string::npos) << again.err;
    }
    EXPECT_TRUE(written[0] == written[1]) << "a service's PDFs differ from the engines' beyond their dates";
}

}  // namespace
