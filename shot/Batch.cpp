#include "shot/Batch.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>

namespace shot {

namespace {

constexpr std::size_t kLongest = 120;

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r\n\v\f");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r\n\v\f") - a + 1);
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// FNV-1a, to tell long names apart after they are cut short.
std::string shortHash(const std::string& s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    char out[9];
    std::snprintf(out, sizeof out, "%08x", h);
    return out;
}

}  // namespace

std::vector<std::string> readList(std::istream& in) {
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        out.push_back(line);
    }
    return out;
}

std::string fileNameFor(const std::string& address, const std::string& extension, std::set<std::string>& taken) {
    std::string rest = address;
    const auto scheme = rest.find("://");
    if (scheme != std::string::npos && scheme < 12) rest = rest.substr(scheme + 3);
    std::string name;
    for (unsigned char c : rest) {
        const bool keep = std::isalnum(c) || c == '.' || c == '-';
        const char out = keep ? static_cast<char>(c) : '_';
        if (out == '_' && !name.empty() && name.back() == '_') continue;
        name += out;
    }
    // No hidden files, no "." or "..", no runs of dots.
    while (!name.empty() && (name.front() == '.' || name.front() == '_' || name.front() == '-')) name.erase(0, 1);
    while (!name.empty() && (name.back() == '.' || name.back() == '_')) name.pop_back();
    for (std::size_t at; (at = name.find("..")) != std::string::npos;) name.replace(at, 2, ".");
    if (name.size() > kLongest) name = name.substr(0, kLongest - 9) + "-" + shortHash(address);
    if (name.empty()) name = "page";
    std::string candidate = name + extension;
    for (int n = 2; taken.count(lower(candidate)); ++n) candidate = name + "-" + std::to_string(n) + extension;
    taken.insert(lower(candidate));
    return candidate;
}

std::vector<std::optional<PageReport>> writtenBefore(const std::vector<BatchPage>& pages, std::istream& report) {
    // An address listed twice has two files: each page takes the line of its own.
    std::multimap<std::string, PageReport> lines;
    std::string line;
    while (std::getline(report, line)) {
        const auto page = parseReport(line);
        if (page && written(page->status) && !page->file.empty()) lines.emplace(page->address, *page);
    }
    std::vector<std::optional<PageReport>> done(pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        auto [from, to] = lines.equal_range(pages[i].address);
        for (auto it = from; it != to; ++it) {
            std::error_code ec;
            if (!std::filesystem::equivalent(it->second.file, pages[i].path, ec) || ec) continue;
            done[i] = it->second;
            lines.erase(it);
            break;
        }
    }
    return done;
}

}  // namespace shot
