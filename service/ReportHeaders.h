// What an answer says of its page in its headers, small enough for the proxies callers
// put in front: nginx, among others, refuses an answer whose headers pass one buffer of
// 4 KiB (502 "upstream sent too big header"), and a page's title, its address or an
// image's may each be longer than that. Long texts are cut, at a character, and end in
// "…"; an error's JSON body carries the whole report.
#pragma once

#include <cstddef>
#include <string>

#include "shot/Report.h"

namespace service {

inline constexpr std::size_t kReportHeaderBytes = 1536;   // Vemo-Report, encoded
inline constexpr std::size_t kMessageHeaderBytes = 512;    // Vemo-Message, encoded

// The page's report as Vemo-Report carries it: JSON, percent-encoded, at most
// kReportHeaderBytes, its text fields cut as far as needed.
std::string reportHeader(const shot::PageReport&);
// A message as Vemo-Message carries it: percent-encoded (spaces and UTF-8 too), at most
// kMessageHeaderBytes.
std::string messageHeader(const std::string& message);
// `text` cut to at most `bytes` bytes of UTF-8, at a character, ending in "…" when cut.
std::string cutText(const std::string& text, std::size_t bytes);

}  // namespace service
