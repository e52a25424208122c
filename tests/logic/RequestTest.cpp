// One capture request for every face: the service's fields read by the command's own
// parser, the request carried whole to a worker as JSON, and the workers' pool that
// matches answers to tasks by their ids.
#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "service/Fields.h"
#include "service/Metrics.h"
#include "service/Request.h"
#include "shot/EnginePool.h"
#include "shot/Options.h"
#include "shot/RequestJson.h"
#include "shot/Worker.h"

namespace {

using service::Fields;

// A value for each option a caller may set, and what it must change in the request.
// An option added to the command without a line here fails the walk below.
struct Sample {
    std::string value;
    std::function<bool(const engine::ShotRequest&)> took;
};
const std::map<std::string, Sample>& samples() {
    static const std::map<std::string, Sample> kSamples = {
        {"width", {"640", [](auto& r) { return r.width == 640; }}},
        {"height", {"480", [](auto& r) { return r.height == 480; }}},
        {"scale", {"2", [](auto& r) { return r.scale == 2; }}},
        {"wait", {"250", [](auto& r) { return r.waitMs == 250; }}},
        {"timeout", {"12", [](auto& r) { return r.timeoutMs == 12000; }}},
        {"warm-up", {"false", [](auto& r) { return !r.warmUp; }}},
        {"no-warm-up", {"true", [](auto& r) { return !r.warmUp; }}},
        {"animations", {"run", [](auto& r) { return r.animations; }}},
        {"hide", {".ad", [](auto& r) { return r.adjust.hide == ".ad"; }}},
        {"remove", {".ad", [](auto& r) { return r.adjust.remove == ".ad"; }}},
        {"style", {"@x { }", [](auto& r) { return r.adjust.style == "@x { }"; }}},
        {"script", {"@1", [](auto& r) { return r.adjust.script == "@1"; }}},
        {"wait-for", {"#x", [](auto& r) { return r.adjust.waitFor == "#x"; }}},
        {"selector", {"#x", [](auto& r) { return r.adjust.selector == "#x"; }}},
        {"clip", {"1.5,2,3,4", [](auto& r) { return r.adjust.clip == std::array<double, 4>{1.5, 2, 3, 4}; }}},
        {"viewport", {"true", [](auto& r) { return r.adjust.viewport; }}},
        {"expand", {"false", [](auto& r) { return !r.adjust.expand; }}},
        {"no-expand", {"1", [](auto& r) { return !r.adjust.expand; }}},
        {"user-agent", {"Ua/1", [](auto& r) { return r.identity.userAgent == "Ua/1"; }}},
        {"header", {"X-A: b", [](auto& r) { return r.identity.headers.size() == 1 && r.identity.headers[0].second == "b"; }}},
        {"cookie", {"a=b", [](auto& r) { return r.identity.cookies.size() == 1 && r.identity.cookies[0].value == "b"; }}},
        {"user", {"u:p", [](auto& r) { return r.identity.user == "u" && r.identity.password == "p"; }}},
        {"color-scheme", {"dark", [](auto& r) { return r.dark; }}},
        {"transparent", {"true", [](auto& r) { return r.transparent; }}},
        {"quality", {"55", [](auto& r) { return r.picture.quality == 55 && r.picture.lossy; }}},
        // A PDF's
        {"paper", {"Letter", [](auto& r) { return r.print.width == 612 && r.print.height == 792; }}},
        {"landscape", {"true", [](auto& r) { return r.print.width > r.print.height; }}},
        {"margin", {"1in", [](auto& r) { return r.print.margins == std::array<double, 4>{72, 72, 72, 72}; }}},
        {"backgrounds", {"false", [](auto& r) { return !r.print.backgrounds; }}},
        {"no-backgrounds", {"true", [](auto& r) { return !r.print.backgrounds; }}},
    };
    return kSamples;
}

TEST(ServiceFields, EveryOptionOfTheCommandIsServedOrTheCommandsAlone) {
    for (const auto& o : shot::optionTable()) {
        if (service::commandOnly().count(o.name)) {
            const auto refused = service::requestFromFields({{"url", {"http://a/"}}, {o.name, {"1"}}}, {});
            EXPECT_FALSE(refused.request) << o.name << " is the command's alone, yet served";
            continue;
        }
        const auto sample = samples().find(o.name);
        ASSERT_NE(sample, samples().end()) << "--" << o.name << " is neither served nor the command's alone";
        Fields fields = {{"url", {"http://a/"}}, {o.name, {sample->second.value}}};
        if (o.name == "transparent" || o.name == "quality") fields["format"] = {"webp"};
        if (o.name == "paper" || o.name == "landscape" || o.name == "margin" || o.name.find("backgrounds") != std::string::npos)
            fields["format"] = {"pdf"};
        const auto asked = service::requestFromFields(fields, {});
        ASSERT_TRUE(asked.request) << o.name << ": " << asked.error;
        EXPECT_TRUE(sample->second.took(*asked.request)) << "the field " << o.name << " was read and thrown away";
    }
}

TEST(ServiceFields, QueriesAndJsonGiveTheSameFieldsAndBadOnesAreRefused) {
    const auto query = service::queryFields("url=http%3A%2F%2Fa%2F%3Fb%3D1&hide=.a&hide=%23b+c&viewport=true&width=300");
    Fields json;
    std::string why;
    const std::string body = R"({"url":"http://a/?b=1","hide":[".a","#b c"],"viewport":true,"width":300})";
    ASSERT_TRUE(service::jsonFields(body.data(), body.size(), json, why)) << why;
    EXPECT_EQ(query, json);
    const auto asked = service::requestFromFields(json, {});
    ASSERT_TRUE(asked.request) << asked.error;
    EXPECT_EQ(asked.request->adjust.hide, ".a, #b c");
    EXPECT_TRUE(asked.request->adjust.viewport);

    // Numbers are written the same under a locale with a decimal comma.
    const std::string clip = R"({"url":"http://a/","clip":[1.5,2,3,4]})";
    const char* was = std::setlocale(LC_NUMERIC, nullptr);
    const std::string before = was ? was : "C";
    // A locale with a decimal comma, made here where the system has none.
    const auto locales = std::filesystem::temp_directory_path() / ("locales-" + std::to_string(::getpid()));
    std::filesystem::create_directories(locales);
    const std::string make = "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef cannot make a locale here";
    ::setenv("LOCPATH", locales.c_str(), 1);
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"));
    char comma[8];
    std::snprintf(comma, sizeof comma, "%g", 0.5);
    EXPECT_STREQ(comma, "0,5");
    Fields numbers;
    ASSERT_TRUE(service::jsonFields(clip.data(), clip.size(), numbers, why)) << why;
    const std::string metrics = service::Metrics().text(0, 0, 1);
    std::setlocale(LC_NUMERIC, before.c_str());
    EXPECT_EQ(numbers["clip"], std::vector<std::string>{"1.5,2,3,4"});
    EXPECT_NE(metrics.find("le=\"0.25\""), std::string::npos) << metrics;
    ::unsetenv("LOCPATH");
    std::filesystem::remove_all(locales);

    const std::pair<Fields, std::string> refused[] = {
        {{}, "url="},
        {{{"url", {"file:///etc/passwd"}}}, "only http and https"},
        {{{"url", {"ftp://a/"}}}, "only http and https"},
        {{{"url", {"--help"}}}, "only http and https"},
        {{{"url", {"http://a/\nx"}}}, "control characters"},
        {{{"url", {"http://a/" + std::string(9000, 'x')}}}, "too long"},
        {{{"url", {"http://a/"}}, {"format", {"gif"}}}, "format takes png"},
        {{{"url", {"http://a/"}}, {"scale", {"3"}}}, "--scale takes 1 or 2"},
        {{{"url", {"http://a/"}}, {"viewport", {"maybe"}}}, "viewport takes true or false"},
        {{{"url", {"http://a/"}}, {"width", {"1", "2"}}}, "more than once"},
        {{{"url", {"http://a/"}}, {"format", {"jpg"}}, {"transparent", {"1"}}}, "--transparent needs a format"},
        {{{"url", {"http://a/"}}, {"selector", {"#a"}}, {"viewport", {"true"}}}, "give one"},
        {{{"url", {"http://a/"}}, {"list", {"/etc/passwd"}}}, "unknown field 'list'"},
        {{{"url", {"http://a/"}}, {"cookies", {"/etc/passwd"}}}, "unknown field 'cookies'"},
        {{{"url", {"http://a/"}}, {"timeout", {"61"}}}, "at most 60 seconds"},
        {{{"url", {"http://a/"}}, {"wait", {"60000"}}}, "shorter than the time limit"},
    };
    for (const auto& [fields, says] : refused) {
        const auto r = service::requestFromFields(fields, {});
        EXPECT_FALSE(r.request) << says;
        EXPECT_NE(r.error.find(says), std::string::npos) << r.error;
    }
    // A script and a style sheet may have lines and tabs; nothing else may.
    EXPECT_TRUE(service::requestFromFields({{"url", {"http://a/"}}, {"script", {"a();\n\tb();"}}}, {}).request);
    EXPECT_FALSE(service::requestFromFields({{"url", {"http://a/"}}, {"selector", {"a\nb"}}}, {}).request);
    // Without a timeout of its own, a request gets the operator's limit where it is lower.
    EXPECT_EQ(service::requestFromFields({{"url", {"http://a/"}}}, {10, false}).request->timeoutMs, 10000);
    EXPECT_TRUE(service::requestFromFields({{"url", {"file:///tmp/a.html"}}}, {60, true}).request);
    EXPECT_FALSE(service::jsonFields("[1]", 3, json, why));
    const std::string nested = R"({"url":{"a":1}})";
    EXPECT_FALSE(service::jsonFields(nested.data(), nested.size(), json, why));
}

TEST(WorkerMessages, ARequestTravelsWholeAndAnswersKeepTheirIds) {
    engine::ShotRequest r;
    r.address = "https://a.example/ü?x=1";
    r.width = 333, r.height = 444, r.scale = 2, r.waitMs = 5, r.timeoutMs = 6000;
    r.warmUp = false, r.animations = true, r.dark = true, r.transparent = true;
    r.adjust = {"#w", ".h", ".r", "p{}", "1+1", false, "#s", std::array<double, 4>{0.5, 1, 2, 3}, true};
    r.identity = {"Ua", {{"X-A", "b: c"}}, {{"n", "v", "d.example", "/p", true, true, 123}}, "u", "p:w"};
    r.picture = {capture::Format::Webp, 42, true};
    r.network = {true, {"a.example", "b.example:8080"}};
    r.print = {300.5, 0, {1, 2.25, 3, 4}, false};
    const shot::WorkerTask task{7, r, "/tmp/x.webp", true, false};
    std::string why;
    const auto back = shot::parseTask(shot::taskLine(task), why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->id, 7u);
    EXPECT_EQ(back->path, "/tmp/x.webp");
    EXPECT_TRUE(back->thumbnail);
    EXPECT_FALSE(back->fresh);
    EXPECT_TRUE(back->request == r) << shot::taskLine(task);
    EXPECT_FALSE(shot::parseTask("{\"id\":1,\"request\":{\"width\":\"wide\"}}", why));

    shot::WorkerAnswer a{9, shot::TaskEnd::Page, {}};
    a.report.status = shot::Status::Incomplete;
    a.report.file = "/tmp/a\tb.png";
    a.report.message = "said\n";
    a.report.title = "T";
    a.report.httpStatus = 404;
    const auto heard = shot::parseAnswer(shot::answerLine(a));
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->id, 9u);
    EXPECT_EQ(heard->report.file, a.report.file);
    EXPECT_EQ(heard->report.message, a.report.message);
    EXPECT_EQ(heard->report.httpStatus, 404);
    EXPECT_EQ(heard->report.status, shot::Status::Incomplete);
    EXPECT_FALSE(shot::parseAnswer("GLib-WARNING: something"));
    EXPECT_FALSE(shot::parseAnswer("{\"id\":9,\"status\":\"splendid\"}")) << "a status nobody knows";
    // What a worker says out of turn is logged, its control characters escaped.
    EXPECT_EQ(shot::printable("a\x1b[31m\n"), "a\\x1b[31m\\x0a");
    EXPECT_EQ(shot::printable(std::string(400, 'x')).size(), 303u);
}

// A worker of the shell: says it is ready, prints stray lines, and answers each task
// with its id (or, told to, first with another's).
class FakeWorkers : public ::testing::Test {
protected:
    std::string script(const std::string& body) {
        const auto path = std::filesystem::temp_directory_path() / ("fake-worker-" + std::to_string(::getpid()) + "-" + std::to_string(made_.size()) + ".sh");
        std::ofstream(path) << "#!/bin/sh\n" << body;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        made_.push_back(path);
        return path.string();
    }
    ~FakeWorkers() override {
        for (const auto& p : made_) std::filesystem::remove(p);
    }
    // Submits a job and runs the main loop until it is answered or `ms` pass.
    std::optional<shot::WorkerAnswer> ask(shot::EnginePool& pool, int ms = 20000) {
        auto job = std::make_shared<shot::EngineJob>();
        std::optional<shot::WorkerAnswer> answer;
        job->done = [&](const shot::WorkerAnswer& a) { answer = a; };
        if (pool.submit(job, 8) == shot::EnginePool::Submitted::Unavailable) return std::nullopt;
        const gint64 until = g_get_monotonic_time() + ms * 1000L;
        while (!answer && g_get_monotonic_time() < until) g_main_context_iteration(nullptr, FALSE);
        return answer;
    }
    std::vector<std::filesystem::path> made_;
};

TEST_F(FakeWorkers, StrayLinesAndOtherIdsAreIgnoredAndAWorkerThatCannotStartIsRefusedAtOnce) {
    const std::string answers = script(
        "echo '{\"ready\":true}'\n"
        "while read -r line; do\n"
        "  id=$(echo \"$line\" | sed -n 's/^{\"id\":\\([0-9]*\\).*/\\1/p')\n"
        "  echo 'stray output of a web process'\n"
        "  echo \"{\\\"id\\\":$((id + 100)),\\\"status\\\":\\\"ok\\\",\\\"report\\\":{\\\"address\\\":\\\"a\\\",\\\"status\\\":\\\"ok\\\",\\\"file\\\":\\\"wrong\\\"}}\"\n"
        "  echo \"{\\\"id\\\":$id,\\\"status\\\":\\\"ok\\\",\\\"report\\\":{\\\"address\\\":\\\"a\\\",\\\"status\\\":\\\"ok\\\",\\\"file\\\":\\\"right-$id\\\"}}\"\n"
        "done\n");
    shot::EnginePool pool({answers}, 1);
    for (int i = 0; i < 3; ++i) {
        const auto a = ask(pool);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->report.status, shot::Status::Ok);
        EXPECT_EQ(a->report.file, "right-" + std::to_string(a->id));
    }

    // A worker that ends before it is ready: tried again later, and meanwhile refused,
    // with how it ended.
    shot::EnginePool broken({script("exit 3\n")}, 1);
    const auto a = ask(broken);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->end, shot::TaskEnd::Unavailable);
    EXPECT_NE(a->report.message.find("exit status 3"), std::string::npos) << a->report.message;
    EXPECT_FALSE(broken.ready());
    EXPECT_FALSE(ask(broken)) << "refused at once";
    EXPECT_NE(broken.unavailable(1).find("exit status 3"), std::string::npos);
}

}  // namespace
