// The live line of a batch on a terminal: pages done of all, failures, pages a second,
// the time still to go and the address under way, kept up to date in place. Nothing
// of it where standard error is no terminal, nor when asked to be quiet.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

namespace shot {

struct Console {
    std::ostream& err;
    bool live = false;  // standard error is a terminal: one live progress line
    // The terminal's width, asked at each redraw: the terminal may be resized meanwhile.
    std::function<int()> columns = [] { return 80; };
};

struct ProgressCounts {
    std::size_t done = 0, total = 0, failed = 0;
    double perSecond = 0;  // pages photographed a second in this run; 0: not known yet
};

// The line's text, at most `columns` - 1 wide: the address is cut to fit.
std::string progressLine(const ProgressCounts&, const std::string& address, int columns);

class Progress {
public:
    // `skipped`: pages of the batch done before this run, which count as done but
    // not in its speed.
    Progress(Console, bool quiet, std::size_t total, std::size_t skipped);
    // A page begins, with `done` pages of the batch behind it.
    void show(std::size_t done, std::size_t failed, const std::string& address);
    // Takes the line away, for a message of its own or at the end.
    void clear();

private:
    Console c_;
    bool quiet_;
    std::size_t total_, skipped_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    bool shown_ = false;
};

}  // namespace shot
