#include "shot/Progress.h"

#include <algorithm>

#include "shot/Messages.h"

namespace shot {

namespace {

// Columns a text takes on a terminal: wide (East Asian) characters take two.
std::size_t columnsOf(const std::string& s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        unsigned cp = c;
        if (len == 3 && i + 2 < s.size()) cp = (c & 0x0Fu) << 12 | (s[i + 1] & 0x3Fu) << 6 | (s[i + 2] & 0x3Fu);
        n += (len >= 3 && cp >= 0x1100) ? 2 : 1;
        i += len;
    }
    return n;
}

// The first `columns` columns of a text, never cutting a character in two.
std::string cut(const std::string& s, std::size_t columns) {
    std::string out;
    std::size_t used = 0;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        const std::string ch = s.substr(i, len);
        used += columnsOf(ch);
        if (used > columns) break;
        out += ch;
        i += len;
    }
    return out;
}

std::string duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    if (s >= 3600) return format("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return format("%ld:%02ld", s / 60, s % 60);
}

}  // namespace

std::string progressLine(const ProgressCounts& c, const std::string& address, int columns) {
    std::string line = format("[%zu/%zu]", c.done, c.total);
    if (c.failed) line += "  " + format(tr("%zu failed"), c.failed);
    if (c.perSecond > 0) {
        line += "  " + format(tr("%.1f pages/s"), c.perSecond);
        if (c.done < c.total) line += "  " + format(tr("ETA %s"), duration(static_cast<double>(c.total - c.done) / c.perSecond).c_str());
    }
    line += "  ";
    const std::size_t room = static_cast<std::size_t>(std::max(columns, 2) - 1);
    const std::size_t used = columnsOf(line);
    if (used >= room) return cut(line, room);
    if (columnsOf(address) <= room - used) return line + address;
    if (room - used <= 3) return line;
    return line + cut(address, room - used - 3) + "...";
}

Progress::Progress(Console c, bool quiet, std::size_t total, std::size_t skipped)
    : c_(c), quiet_(quiet), total_(total), skipped_(skipped) {}

void Progress::show(std::size_t done, std::size_t failed, const std::string& address) {
    if (!c_.live || quiet_) return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const std::size_t photographed = done > skipped_ ? done - skipped_ : 0;
    const ProgressCounts counts{done, total_, failed, photographed && seconds > 0 ? photographed / seconds : 0};
    c_.err << "\r\033[K" << progressLine(counts, address, c_.columns ? c_.columns() : 80) << std::flush;
    shown_ = true;
}

void Progress::clear() {
    if (shown_) c_.err << "\r\033[K" << std::flush;
    shown_ = false;
}

}  // namespace shot
