// The books of a run: what each page came to, said on standard error and written to
// the report as it comes (a line a page, flushed), the live progress line, and at the
// end the contact sheet, the closing summary and the exit status. A resumed batch
// starts with the pages an earlier run wrote, which count as written.
#pragma once

#include <chrono>
#include <fstream>
#include <optional>
#include <vector>

#include "shot/Batch.h"
#include "shot/Options.h"
#include "shot/Progress.h"
#include "shot/Report.h"

namespace shot {

class Ledger {
public:
    Ledger(const Options&, Console, std::vector<BatchPage>, std::vector<std::optional<PageReport>> before);

    // Opens the report, when one is asked for: rewritten whole from the pages written
    // before, or emptied. False, and said, when it cannot be written.
    bool openReport();

    const std::vector<BatchPage>& pages() const { return pages_; }
    // Whether an earlier run wrote the page: it is not photographed again.
    bool writtenBefore(std::size_t i) const { return before_[i]; }

    // A page begins: the progress line shows it.
    void begin(std::size_t i);
    // What a page came to: its address and file are the page's own.
    void finish(std::size_t i, PageReport);

    // The contact sheet, the summary and the exit status.
    int end(bool interrupted);

private:
    const Options& o_;
    Console con_;
    std::vector<BatchPage> pages_;
    std::vector<std::optional<PageReport>> done_;
    std::vector<bool> before_;
    bool batch_;
    std::ofstream report_;
    Progress progress_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::size_t skipped_ = 0, written_ = 0, failed_ = 0, incomplete_ = 0;
    std::string current_;  // the address of the page begun last
    Status last_ = Status::Ok;
};

}  // namespace shot
