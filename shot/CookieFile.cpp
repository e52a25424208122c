// Cookies from a cookies.txt file, as curl and wget write it (--cookies).
#include <istream>
#include <string>
#include <vector>

#include "shot/Options.h"

namespace shot {

std::optional<std::vector<engine::Cookie>> readCookieFile(std::istream& in) {
    std::vector<engine::Cookie> jar;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool httpOnly = false;
        if (line.rfind("#HttpOnly_", 0) == 0) {
            httpOnly = true;
            line.erase(0, 10);
        } else if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> f;
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1) f.push_back(line.substr(at, tab - at));
        f.push_back(line.substr(at));
        if (f.size() != 7) return std::nullopt;
        engine::Cookie c{f[5], f[6], f[0], f[2].empty() ? "/" : f[2], f[3] == "TRUE", httpOnly, 0};
        try {
            c.expires = std::stoll(f[4]);
        } catch (const std::exception&) {
            return std::nullopt;
        }
        jar.push_back(c);
    }
    return jar;
}

}  // namespace shot
