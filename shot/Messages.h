// The command's messages, translated through gettext (English by default, Chinese
// under a Chinese locale).
#pragma once

#include <libintl.h>

#include <cstdio>
#include <string>

namespace shot {

inline constexpr const char* kTextDomain = "vemo-shot";

inline const char* tr(const char* text) { return dgettext(kTextDomain, text); }
// The form of a message that goes with the number `n` ("1 request", "2 requests").
inline const char* trn(const char* one, const char* many, long n) {
    return dngettext(kTextDomain, one, many, static_cast<unsigned long>(n));
}

// printf-style formatting of a translated pattern.
template <class... Args>
std::string format(const char* pattern, Args... args) {
    const int n = std::snprintf(nullptr, 0, pattern, args...);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(s.data(), s.size() + 1, pattern, args...);
    return s;
}

}  // namespace shot
