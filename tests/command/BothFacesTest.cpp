// One table of requests through both faces: the command, and the running service by GET
// (repeated parameters) and by POST (JSON lists, booleans and numbers). Each gives the
// same picture, pixel for pixel, or the matching failure: the command's exit status and
// the service's HTTP status with its JSON. Every option the service serves is in the table.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

#include "service/Request.h"
#include "shot/Options.h"
#include "tests/support/Command.h"
#include "tests/support/HttpServer.h"
#include "tests/support/PdfFiles.h"
#include "tests/support/ServiceProcess.h"

namespace {

const char* const kBlocks =
    "<!doctype html><style>@media (prefers-color-scheme: dark) { #box { background: #f0f !important } }</style>"
    "<body style='margin:0'><div style='height:300px'></div>"
    "<div id=box style='margin-left:100px;width:250px;height:120px;background:#0f0'></div>"
    "<div id=next style='height:100px;background:#00f'></div><div class=banner style='height:50px;background:#f00'></div>"
    "<div style='height:100px;background:#ff0'></div><div style='height:1000px'></div>"
    "<script>setTimeout(() => document.body.insertAdjacentHTML('beforeend', '<p id=soon>soon</p>'), 300);</script>";

// The page's colour says who asked: a user agent, a header, a cookie, a login.
std::string who(const std::string& head) {
    auto has = [&](const char* s) { return head.find(s) != std::string::npos; };
    const char* colour = has("User-Agent: Faces/1") ? "#00f"
                         : has("X-Faces: yes")      ? "#0f0"
                         : has("Cookie: faces=1")   ? "#ff0"
                         : has("Authorization: Basic dTpw") ? "#0ff" : "#f00";
    if (has("/who?login") && !has("Authorization:"))
        return "401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"t\"\r\nContent-Length: 0\r\n\r\n";
    const std::string body = std::string("<!doctype html><body style='margin:0;background:") + colour +
                             "'><div style='height:600px'></div>";
    return "200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct Case {
    std::string page;               // a path of the test server
    std::vector<std::string> args;  // the command's options
    std::string format = "png";
    int exit = 0, http = 200;       // a failure: the command's exit status, the service's status
    std::string status = "ok";      // the outcome's name (Vemo-Status, or the JSON's status)
};

const Case kCases[] = {
    {"/blocks", {"--width=400", "--height=300", "--viewport"}},
    {"/blocks", {"--scale=2", "--selector=#box"}},
    {"/blocks", {"--wait=100", "--timeout=20", "--no-warm-up", "--animations=run", "--selector=#next"}, "jpg"},
    {"/blocks", {"--warm-up", "--no-expand", "--clip=100,300,50,60"}, "bmp"},
    {"/blocks", {"--expand", "--hide=.banner", "--hide=#next"}, "webp"},
    {"/blocks", {"--remove=.banner", "--remove=#box", "--quality=70"}, "webp"},
    {"/blocks", {"--style=#next { background: #f0f !important }", "--quality=80"}, "jpg"},
    {"/blocks", {"--script=const c = '#0ff';\n\tdocument.body.style.background = c;", "--wait-for=#soon"}},
    {"/blocks", {"--color-scheme=dark", "--selector=#box"}},
    {"/blocks", {"--transparent", "--viewport"}, "webp"},
    {"/who", {"--user-agent=Faces/1", "--viewport"}},
    {"/who", {"--header=X-Faces: yes", "--header=X-Other: 1", "--viewport"}},
    {"/who", {"--cookie=faces=1", "--viewport"}},
    {"/who?login", {"--user=u:p", "--viewport"}},
    {"/blocks", {"--selector=#none"}, "png", 8, 422, "no-element"},
    {"/blocks", {"--script=throw new Error('no')"}, "png", 9, 422, "script-failed"},
    {"/blocks", {"--wait-for=#never", "--timeout=3"}, "png", 4, 504, "timed-out"},
    {"/blocks", {"--width=5"}, "png", 2, 400, "bad-request"},
    {"/blocks", {"--wait=5000", "--timeout=5"}, "png", 2, 400, "bad-request"},
    {"/who?login", {}, "png", 3, 422, "load-failed"},
    {"/stalled-image", {"--timeout=8"}, "png", 7, 200, "incomplete"},
    {"/tall", {}, "jpg", 5, 413, "too-large"},
    // A PDF: the same bytes but for its dates.
    {"/blocks", {"--paper=A5", "--landscape", "--margin=5mm,1cm", "--no-backgrounds"}, "pdf"},
    {"/blocks", {"--paper=page", "--backgrounds", "--hide=.banner"}, "pdf"},
    {"/blocks", {"--paper=A4", "--scale=2"}, "pdf", 2, 400, "bad-request"},
    // What would do nothing for a picture is refused, not ignored.
    {"/blocks", {"--quality=80"}, "png", 2, 400, "bad-request"},
    {"/blocks", {"--quality=80", "--viewport"}, "bmp", 2, 400, "bad-request"},
    {"/blocks", {"--backgrounds"}, "jpg", 2, 400, "bad-request"},
};

bool numeric(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The option's name and value: "--a=b" is {a, b}; a switch "--a" is {a, ""}.
std::pair<std::string, std::string> split(const std::string& arg) {
    const auto eq = arg.find('=');
    return {arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2),
            eq == std::string::npos ? "" : arg.substr(eq + 1)};
}

// The case's fields as a query: switches as true (their "no-" forms as false), repeated
// options repeated.
std::string queryOf(const std::string& url, const Case& c) {
    std::string q = support::shotOf(url, "&format=" + c.format);
    for (const auto& a : c.args) {
        auto [name, value] = split(a);
        if (value.empty()) {
            const bool no = name.rfind("no-", 0) == 0;
            q += "&" + (no ? name.substr(3) : name) + (no ? "=false" : "=true");
        } else {
            q += "&" + name + "=" + support::queryEscaped(value);
        }
    }
    return q;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (char ch : s)
        out += ch == '"' || ch == '\\' ? std::string("\\") + ch : ch == '\n' ? "\\n" : ch == '\t' ? "\\t" : std::string(1, ch);
    return out + "\"";
}

// The case as JSON: lists for repeated options, booleans for switches, numbers for
// numbers, and a clip as its four numbers.
std::string jsonOf(const std::string& url, const Case& c) {
    std::map<std::string, std::vector<std::string>> fields;
    for (const auto& a : c.args) {
        auto [name, value] = split(a);
        if (value.empty()) {
            const bool no = name.rfind("no-", 0) == 0;
            fields[no ? name.substr(3) : name].push_back(no ? "false" : "true");
        } else if (name == "clip") {
            fields[name].push_back("[" + value + "]");
        } else {
            fields[name].push_back(numeric(value) ? value : jsonString(value));
        }
    }
    std::string json = "{\"url\":" + jsonString(url) + ",\"format\":" + jsonString(c.format);
    for (const auto& [name, values] : fields) {
        json += ",\"" + name + "\":";
        if (values.size() == 1) json += values.front();
        else {
            json += "[";
            for (std::size_t i = 0; i < values.size(); ++i) json += (i ? "," : "") + values[i];
            json += "]";
        }
    }
    return json + "}";
}

void expectSamePicture(const support::Picture& a, const support::Picture& b, const std::string& what) {
    ASSERT_EQ(a.width, b.width) << what;
    ASSERT_EQ(a.height, b.height) << what;
    std::size_t differ = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) differ += a.pixels[i] != b.pixels[i];
    EXPECT_EQ(differ, 0u) << what;
    EXPECT_EQ(a.alphas, b.alphas) << what;
}

TEST(BothFaces, EveryServedOptionGivesTheCommandsPictureOrItsFailure) {
    support::HttpServer pages;
    pages.serve("/blocks", kBlocks);
    pages.respond("/who", who);
    pages.stall("/never.png");
    pages.serve("/stalled-image", "<!doctype html><body style='background:#0f0'><img src='/never.png'>");
    pages.serve("/tall", "<!doctype html><body style='margin:0'><div style='height:70000px;background:#00f'></div>");
    support::ServiceProcess service({"--jobs=2", "--allow-private"});
    support::TempDir out;

    // Every option a caller may set is in the table.
    std::set<std::string> used;
    for (const auto& c : kCases)
        for (const auto& a : c.args) used.insert(split(a).first);
    for (const auto& o : shot::optionTable())
        if (!service::commandOnly().count(o.name)) {
            EXPECT_TRUE(used.count(o.name)) << "no case for --" << o.name;
        }

    int n = 0;
    for (const auto& c : kCases) {
        const std::string url = pages.url(c.page), what = c.page + " " + ::testing::PrintToString(c.args);
        const std::string file = out.path("c" + std::to_string(++n) + "." + c.format);
        std::vector<std::string> argv = {VEMO_SHOT};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.insert(argv.end(), {url, file});
        const auto command = support::runCommand(argv);
        EXPECT_EQ(command.status, c.exit) << what << command.err;
        const auto expected = std::filesystem::exists(file) && c.format != "pdf" ? support::readPicture(file) : std::nullopt;
        EXPECT_EQ(std::filesystem::exists(file), c.http == 200) << what;
        // Options a page is refused for, a batch of pages in that format is refused for alike.
        if (c.exit == 2) {
            std::ofstream(out.path("list.txt")) << url << "\n";
            argv.erase(argv.end() - 2, argv.end());
            argv.insert(argv.end(), {"--list", out.path("list.txt"), "--out-dir", out.path("batch"), "--format=" + c.format});
            const auto batch = support::runCommand(argv);
            EXPECT_EQ(batch.status, 2) << what << batch.err;
            EXPECT_EQ(batch.err, command.err) << what;
            EXPECT_FALSE(std::filesystem::exists(out.path("batch"))) << what;
        }

        for (const auto& reply : {service.get(queryOf(url, c)), service.post(jsonOf(url, c))}) {
            ASSERT_EQ(reply.status, c.http) << what << " " << reply.body.substr(0, 300);
            if (c.http != 200) {
                EXPECT_EQ(reply.headers.at("content-type"), "application/json") << what;
                EXPECT_NE(reply.body.find("\"status\":\"" + c.status + "\""), std::string::npos) << what << reply.body;
                continue;
            }
            const std::string type = c.format == "jpg" ? "image/jpeg" : c.format == "pdf" ? "application/pdf" : "image/" + c.format;
            EXPECT_EQ(reply.headers.at("content-type"), type) << what;
            EXPECT_EQ(reply.headers.at("vemo-status"), c.status) << what;
            if (c.format == "pdf") {
                std::ifstream in(file, std::ios::binary);
                const std::string command((std::istreambuf_iterator<char>(in)), {});
                EXPECT_TRUE(support::withoutDates(reply.body) == support::withoutDates(command)) << what;
                EXPECT_EQ(reply.body.rfind("%PDF-", 0), 0u) << what;
                continue;
            }
            const auto got = support::answerPicture(reply, c.format);
            ASSERT_TRUE(got && expected) << what;
            // A page still loading may differ in what arrived; its size and status say enough.
            if (c.status == "incomplete") EXPECT_EQ(got->width, expected->width) << what;
            else expectSamePicture(*got, *expected, what);
        }
    }
}

// An option of another face, or one that contradicts the file asked for, is refused by
// the command with a word of what it goes with, before any page is photographed: a batch's
// with one page, one page's with a batch, the service's settings with either, and a page's
// given to the service rather than with its requests. A --format that agrees with OUT is
// no contradiction.
TEST(BothFaces, AnOptionOfAnotherFaceIsRefusedNotIgnored) {
    support::HttpServer pages;
    pages.serve("/p", "<!doctype html><body style='margin:0;background:#00f'>");
    support::TempDir out;
    const std::string url = pages.url("/p");
    const std::vector<std::string> batch = {"--list", out.path("list.txt"), "--out-dir", out.path("batch")};
    std::ofstream(out.path("list.txt")) << url << "\n";
    // A service that would start has nowhere to listen.
    const std::vector<std::string> service = {"--serve", "--listen=" + out.path("none/socket")};
    enum Face { kPage, kBatch, kService };
    struct Refused {
        std::vector<std::string> args;
        Face face;
        std::string said;
    };
    const Refused refused[] = {
        {{"--format=webp"}, kPage, "--format asks for WebP, but '" + out.path("p.png") + "' names a PNG file"},
        {{"--format=pdf"}, kPage, "--format asks for PDF"},
        {{"--jobs=2"}, kPage, "--jobs goes with a batch"},
        {{"--report=" + out.path("r.jsonl"), "--index"}, kPage, "--resume and --index go with a batch"},
        {{"--listen=127.0.0.1:9"}, kPage, "--listen goes with the service (--serve)"},
        {{"--allow-private"}, kPage, "--allow-private goes with the service"},
        {{"--max-timeout=5"}, kBatch, "--max-timeout goes with the service"},
        {{"--queue=3", "--jobs=2"}, kBatch, "--queue goes with the service"},
        {{"--keep-engine=5"}, kBatch, "--keep-engine goes with one page (URL OUT), not a batch"},
        {{"--verbose"}, kBatch, "--verbose goes with one page"},
        {{"--allow-host=a.example"}, kPage, "--allow-host goes with --deny-private"},
        {{"--allow-host=a.example", "--jobs=2"}, kBatch, "--allow-host goes with --deny-private"},
        {{"--jobs=1", "--width=800"}, kService, "--width is not the service's to take"},
        {{"--timeout=5"}, kService, "--timeout is not the service's to take"},
        {{"--format=jpg"}, kService, "--format is not the service's to take"},
        {{"--report=" + out.path("r.jsonl")}, kService, "--report is not the service's to take"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> argv = {VEMO_SHOT};
        if (r.face == kService) argv.insert(argv.end(), service.begin(), service.end());
        argv.insert(argv.end(), r.args.begin(), r.args.end());
        if (r.face == kPage) argv.insert(argv.end(), {url, out.path("p.png")});
        else if (r.face == kBatch) argv.insert(argv.end(), batch.begin(), batch.end());
        const auto run = support::runCommand(argv);
        EXPECT_EQ(run.status, 2) << r.said;
        EXPECT_NE(run.err.find(r.said), std::string::npos) << run.err;
        EXPECT_TRUE(pages.requested().empty()) << r.said;
    }
    EXPECT_FALSE(std::filesystem::exists(out.path("p.png")));
    EXPECT_FALSE(std::filesystem::exists(out.path("batch")));
    const auto agreed = support::runCommand({VEMO_SHOT, "--format=jpeg", "--no-warm-up", "--viewport", url, out.path("p.JPG")});
    EXPECT_EQ(agreed.status, 0) << agreed.err;
    const auto picture = support::readPicture(out.path("p.JPG"));
    ASSERT_TRUE(picture);
    EXPECT_NEAR(static_cast<int>(picture->at(10, 10) & 0xff), 0xff, 8);
}

}  // namespace
