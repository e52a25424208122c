// The service as operators run it: two behind the nginx site the package ships, started
// with their defaults but for the host the tests' page server stands for (a public one,
// named with --allow-host), under a Chinese locale. What pages may reach from there, and
// answers that fit through the proxy whatever the page says of itself.
#include <gtest/gtest.h>

#include <glib.h>
#include <json-glib/json-glib.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "tests/support/HttpServer.h"
#include "tests/support/JsonFields.h"
#include "tests/support/Nginx.h"
#include "tests/support/ServiceProcess.h"

namespace {

std::string green(const std::string& head = {}) {
    return "<!doctype html><head>" + head + "</head><body style='margin:0;background:#0f0'><div style='height:600px'></div>";
}

std::string decoded(const std::string& escaped) {
    std::unique_ptr<gchar, decltype(&g_free)> text(g_uri_unescape_string(escaped.c_str(), nullptr), g_free);
    return text ? text.get() : "(not percent-encoded)";
}

// The size of an answer's header block as it crossed the wire, near enough.
std::size_t headerBytes(const support::HttpReply& r) {
    std::size_t n = std::string("HTTP/1.1 200 OK\r\n\r\n").size();
    for (const auto& [name, value] : r.headers) n += name.size() + 2 + value.size() + 2;
    return n;
}

// The members of the JSON object `member` of a JSON text.
std::map<std::string, std::string> memberFields(const std::string& text, const char* member) {
    JsonNode* root = json_from_string(text.c_str(), nullptr);
    std::map<std::string, std::string> fields;
    if (root && JSON_NODE_HOLDS_OBJECT(root) && json_object_has_member(json_node_get_object(root), member)) {
        gchar* inner = json_to_string(json_object_get_member(json_node_get_object(root), member), FALSE);
        fields = support::jsonFields(inner);
        g_free(inner);
    }
    if (root) json_node_unref(root);
    return fields;
}

class ProxiedService : public ::testing::Test {
protected:
    struct Site {
        support::HttpServer pages;                     // the public host
        support::HttpServer intranet{"127.0.0.2"};     // what no caller may reach
        const std::string allowed = "--allow-host=127.0.0.1:" + std::to_string(pages.port());
        const std::vector<std::string> chinese = {"LANGUAGE=zh_CN", "LC_ALL=C.UTF-8"};
        support::ServiceProcess first{{"--jobs=1", allowed}, "127.0.0.1", chinese};
        support::ServiceProcess second{{"--jobs=1", allowed}, "127.0.0.1", chinese};
        support::Nginx nginx{{first.port(), second.port()}};
        support::HttpReply get(const std::string& target) {
            return support::httpRequest(nginx.port(), "GET", target);
        }
    };
    static void SetUpTestSuite() {
        if (support::Nginx::installed()) site = new Site;
    }
    static void TearDownTestSuite() {
        delete site;
        site = nullptr;
    }
    void SetUp() override {
        if (!site) GTEST_SKIP() << "nginx is not installed";
    }
    static Site* site;
};

ProxiedService::Site* ProxiedService::site = nullptr;

TEST_F(ProxiedService, PrivateAddressesAreRefusedWithTheFlagThatAllowsThemAndTheAllowedHostIsPhotographed) {
    site->intranet.serve("/about.html", green());
    const std::string elsewhere = std::to_string(site->intranet.port());
    struct Case {
        std::string url, said;  // what the answer names
    };
    const std::vector<Case> refused = {
        {site->intranet.url("/about.html"), "127.0.0.2"},
        {"http://localhost:" + elsewhere + "/about.html", "localhost"},
        {"http://[::1]:" + elsewhere + "/", "::1"},
        {"http://2130706434:" + elsewhere + "/about.html", "127.0.0.2"},
    };
    for (const auto& c : refused) {
        const auto r = site->get(support::shotOf(c.url));
        EXPECT_EQ(r.status, 422) << c.url << ": " << r.body.substr(0, 300);
        for (const std::string& word : {c.said, std::string("--allow-private"), std::string("--allow-host")})
            EXPECT_NE(r.body.find(word), std::string::npos) << c.url << " does not say " << word << ": " << r.body;
    }
    EXPECT_TRUE(site->intranet.requested().empty()) << "the private server was reached";

    site->pages.serve("/green", green());
    const auto allowed = site->get(support::shotOf(site->pages.url("/green")));
    ASSERT_EQ(allowed.status, 200) << allowed.body.substr(0, 300);
    const auto picture = support::answerPicture(allowed, "png");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->at(10, 500), 0x00ff00u);
}

TEST_F(ProxiedService, LongTitlesAndAddressesAnswerWithHeadersThatFitThroughTheProxy) {
    std::string title;
    for (int i = 0; i < 1500; ++i) title += "長い題名の頁だ";  // 21 bytes: 31 KB
    const std::string signature(2000, 'q');
    site->pages.serve("/titled", green("<title>" + title + "</title>"));
    site->pages.serve("/missing-image", green() + "<img src='/cdn/photo.png?signature=" + signature + "'>");
    site->pages.stall("/cdn/photo.png");
    const std::string refusedUrl = site->intranet.url("/" + signature);

    struct Case {
        std::string target;
        int status;
        std::function<void(const support::HttpReply&)> check;
    };
    const std::vector<Case> cases = {
        {support::shotOf(site->pages.url("/titled")), 200,
         [&](const support::HttpReply& r) {
             const auto report = support::jsonFields(decoded(r.headers.at("vemo-report")));
             const std::string said = report.count("title") ? report.at("title") : "";
             EXPECT_EQ(said.rfind("長い題名の頁だ", 0), 0u) << said;
             EXPECT_EQ(said.substr(said.size() - 3), "\u2026") << "a cut title ends in an ellipsis: " << said;
         }},
        {support::shotOf(site->pages.url("/missing-image"), "&timeout=4"), 200,
         [&](const support::HttpReply& r) {
             EXPECT_EQ(r.headers.at("vemo-status"), "incomplete");
             const std::string& message = r.headers.at("vemo-message");
             // Percent-encoded: no space and no byte beyond ASCII, however the locale words it.
             for (unsigned char c : message) ASSERT_TRUE(c > ' ' && c < 0x7f) << message;
             const std::string text = decoded(message);
             EXPECT_NE(text.find("/cdn/photo.png"), std::string::npos) << text;
             EXPECT_TRUE(std::any_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x80; }))
                 << "not in Chinese: " << text;
         }},
        {support::shotOf(refusedUrl), 422,
         [&](const support::HttpReply& r) {
             // An error's body carries the whole report.
             EXPECT_EQ(memberFields(r.body, "report")["address"], refusedUrl) << r.body.substr(0, 300);
         }},
    };
    for (const auto& c : cases) {
        const auto r = site->get(c.target);
        ASSERT_EQ(r.status, c.status) << c.target.substr(0, 80) << ": " << r.body.substr(0, 300);
        EXPECT_LT(headerBytes(r), 3072u) << c.target.substr(0, 80);
        ASSERT_TRUE(r.headers.count("vemo-report")) << c.target.substr(0, 80);
        if (c.status == 200) {
            const auto picture = support::answerPicture(r, "png");
            ASSERT_TRUE(picture) << c.target.substr(0, 80);
            EXPECT_EQ(picture->at(10, 300), 0x00ff00u) << c.target.substr(0, 80);
        }
        c.check(r);
    }
}

}  // namespace
