#include "shot/Ledger.h"

#include <cerrno>
#include <cstring>

#include "capture/AtomicFile.h"
#include "shot/Index.h"
#include "shot/Messages.h"
#include "shot/Run.h"

namespace shot {

namespace {

std::size_t countOf(const std::vector<std::optional<PageReport>>& pages) {
    std::size_t n = 0;
    for (const auto& p : pages) n += p.has_value();
    return n;
}

}  // namespace

Ledger::Ledger(const Options& o, Console con, std::vector<BatchPage> pages, std::vector<std::optional<PageReport>> before)
    : o_(o), con_(con), pages_(std::move(pages)), done_(std::move(before)), batch_(!o.list.empty()),
      progress_(con, o.quiet, pages_.size(), countOf(done_)) {
    done_.resize(pages_.size());
    for (const auto& p : done_) {
        before_.push_back(p.has_value());
        if (!p) continue;
        ++skipped_;
        ++written_;
        if (p->status == Status::Incomplete) ++incomplete_;
        last_ = p->status;
    }
}

bool Ledger::openReport() {
    if (o_.report.empty()) return true;
    // The pages written before, and nothing else: every page has one line at the end.
    std::string kept;
    for (const auto& p : done_)
        if (p) kept += reportJson(*p) + "\n";
    std::error_code error = capture::writeAtomically(o_.report, [&](int fd) { return capture::writeAll(fd, kept.data(), kept.size()); });
    if (!error) {
        report_.open(o_.report, std::ios::app);
        if (!report_) error = {errno, std::generic_category()};
    }
    if (error) con_.err << format(tr("vemo-shot: cannot write the report '%s': %s\n"), o_.report.c_str(), error.message().c_str());
    return !error;
}

void Ledger::begin(std::size_t i) {
    // Pages finished, not begun: several engines have several pages under way.
    current_ = pages_[i].address;
    progress_.show(written_ + failed_, failed_, current_);
}

void Ledger::finish(std::size_t i, PageReport page) {
    const auto& p = pages_[i];
    page.address = p.address;
    page.file = written(page.status) ? p.path : "";
    if (report_) report_ << reportJson(page) << '\n' << std::flush;
    last_ = page.status;
    if (written(page.status)) {
        ++written_;
        if (page.status == Status::Incomplete) ++incomplete_;
        if (!page.message.empty()) {
            progress_.clear();
            con_.err << format(tr("vemo-shot: %s: %s\n"), p.address.c_str(), page.message.c_str());
        }
    } else {
        ++failed_;
        progress_.clear();
        // The status's name after the words, unless they are the same.
        if (page.message == statusName(page.status))
            con_.err << format(tr("vemo-shot: %s: %s\n"), p.address.c_str(), page.message.c_str());
        else
            con_.err << format(tr("vemo-shot: %s: %s (%s)\n"), p.address.c_str(), page.message.c_str(),
                               statusName(page.status));
    }
    done_[i] = std::move(page);
    progress_.show(written_ + failed_, failed_, current_);
}

int Ledger::end(bool interrupted) {
    progress_.clear();
    if (batch_ && o_.index) {
        std::vector<PageReport> shown;
        for (const auto& p : done_)
            if (p) shown.push_back(*p);
        if (const auto error = writeIndex(o_.outDir, shown))
            con_.err << format(tr("vemo-shot: cannot write the index in '%s': %s\n"), o_.outDir.c_str(),
                               error.message().c_str());
    }
    if (interrupted) last_ = Status::Interrupted;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const char* tail = interrupted ? tr(" (interrupted)") : "";
    const auto pages = static_cast<long>(pages_.size());
    if (skipped_)
        con_.err << format(trn("vemo-shot: %zu of %zu page written (%zu of them before), %zu failed, in %.1f s%s\n",
                               "vemo-shot: %zu of %zu pages written (%zu of them before), %zu failed, in %.1f s%s\n", pages),
                           written_, pages_.size(), skipped_, failed_, seconds, tail);
    else if (batch_ || interrupted)
        con_.err << format(trn("vemo-shot: %zu of %zu page written, %zu failed, in %.1f s%s\n",
                               "vemo-shot: %zu of %zu pages written, %zu failed, in %.1f s%s\n", pages),
                           written_, pages_.size(), failed_, seconds, tail);
    if (interrupted) return kExitInterrupted;
    if (!batch_) return exitFor(last_);
    return failed_ ? kExitSomeFailed : incomplete_ ? kExitIncomplete : kExitOk;
}

}  // namespace shot
