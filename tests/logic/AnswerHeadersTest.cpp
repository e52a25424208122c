// What an answer of the service says of its page in its headers: bounded whatever the
// page's texts, percent-encoded, and still a report once decoded.
#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <memory>

#include "service/ReportHeaders.h"

namespace {

std::string decoded(const std::string& escaped) {
    std::unique_ptr<gchar, decltype(&g_free)> text(g_uri_unescape_string(escaped.c_str(), nullptr), g_free);
    return text ? text.get() : "";
}

std::string times(const std::string& piece, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += piece;
    return s;
}

bool plainAscii(const std::string& header) {
    for (unsigned char c : header)
        if (c <= ' ' || c >= 0x7f) return false;
    return true;
}

TEST(AnswerHeaders, ReportsAndMessagesFitWhateverTheirTextsAndReadBack) {
    struct Case {
        const char* name;
        shot::PageReport report;
    };
    shot::PageReport shortOne;
    shortOne.address = "http://a.example/";
    shortOne.title = "短い";
    shortOne.message = "photographed at the time limit";
    shot::PageReport everyField = shortOne;
    for (std::string* text : {&everyField.address, &everyField.message, &everyField.finalAddress, &everyField.title,
                              &everyField.firstMissing, &everyField.firstRefused})
        *text = times("長い題名の頁だ%\"\\", 700);
    shot::PageReport brokenBytes = shortOne;
    brokenBytes.title = times("\xe9\x95", 5000);  // half characters, not UTF-8
    const Case cases[] = {{"short", shortOne}, {"every field long", everyField}, {"not UTF-8", brokenBytes}};
    for (const auto& c : cases) {
        const std::string header = service::reportHeader(c.report);
        EXPECT_LE(header.size(), service::kReportHeaderBytes) << c.name;
        EXPECT_TRUE(plainAscii(header)) << c.name;
        const auto back = shot::parseReport(decoded(header));
        ASSERT_TRUE(back) << c.name << ": " << decoded(header).substr(0, 200);
        EXPECT_EQ(back->address.substr(0, 8), c.report.address.substr(0, 8)) << c.name;
        EXPECT_TRUE(g_utf8_validate(back->title.data(), static_cast<gssize>(back->title.size()), nullptr)) << c.name;
        if (c.report.title == shortOne.title) {
            EXPECT_EQ(back->title, shortOne.title) << "a short title is cut";
        }

        const std::string message = service::messageHeader(c.report.message);
        EXPECT_LE(message.size(), service::kMessageHeaderBytes) << c.name;
        EXPECT_TRUE(plainAscii(message)) << c.name << ": " << message.substr(0, 100);
        const std::string said = decoded(message);
        EXPECT_EQ(said.substr(0, 6), c.report.message.substr(0, 6)) << c.name;
        EXPECT_TRUE(said == c.report.message || said.substr(said.size() - 3) == "\u2026") << c.name;
    }
}

TEST(AnswerHeaders, TextIsCutAtACharacterAndSaysItWasCut) {
    const std::string japanese = "長い題名";  // 3 bytes a character
    for (std::size_t bytes = 0; bytes <= japanese.size() + 1; ++bytes) {
        const std::string cut = service::cutText(japanese, bytes);
        EXPECT_LE(cut.size(), bytes) << bytes;
        EXPECT_TRUE(g_utf8_validate(cut.data(), static_cast<gssize>(cut.size()), nullptr)) << bytes;
        if (bytes >= japanese.size()) {
            EXPECT_EQ(cut, japanese);
        } else if (bytes >= 6) {
            EXPECT_EQ(cut.substr(cut.size() - 3), "\u2026") << bytes;
        }
    }
}

}  // namespace
