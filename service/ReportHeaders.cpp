#include "service/ReportHeaders.h"

#include <glib.h>

#include <memory>

namespace service {

namespace {

constexpr const char kEllipsis[] = "\u2026";

std::string escaped(const std::string& text) {
    std::unique_ptr<gchar, decltype(&g_free)> e(g_uri_escape_string(text.c_str(), nullptr, FALSE), g_free);
    return e.get();
}

}  // namespace

std::string cutText(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    const std::size_t room = bytes > sizeof kEllipsis - 1 ? bytes - (sizeof kEllipsis - 1) : 0;
    // Back to the start of a character: never half of one.
    const char* start = text.c_str();
    const char* end = g_utf8_find_prev_char(start, start + room + 1);
    std::size_t keep = end ? static_cast<std::size_t>(end - start) : 0;
    if (!g_utf8_validate(start, static_cast<gssize>(keep), nullptr)) keep = room;  // not UTF-8: bytes
    return text.substr(0, keep) + (room > 0 ? kEllipsis : "");
}

std::string reportHeader(const shot::PageReport& report) {
    auto told = report;
    told.file.clear();  // the service's own folder is nobody's business
    std::string said = escaped(shot::reportJson(told));
    // The longest texts are cut first, shorter ones only when that is not enough.
    for (std::size_t longest = 512; said.size() > kReportHeaderBytes && longest >= 8; longest /= 2) {
        for (std::string* text : {&told.address, &told.message, &told.finalAddress, &told.title, &told.firstMissing,
                                  &told.firstRefused})
            *text = cutText(*text, longest);
        said = escaped(shot::reportJson(told));
    }
    return said;
}

std::string messageHeader(const std::string& message) {
    const std::string said = escaped(message);
    // Each byte takes at most three escaped.
    return said.size() <= kMessageHeaderBytes ? said : escaped(cutText(message, kMessageHeaderBytes / 3));
}

}  // namespace service
