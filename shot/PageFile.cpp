#include "shot/PageFile.h"

#include <chrono>
#include <future>

#include "capture/AtomicFile.h"
#include "capture/ImageFiles.h"
#include "shot/Index.h"
#include "shot/Messages.h"
#include "shot/PrintedHeadings.h"

namespace shot {

PageShot shootPage(engine::IShotEngine& engine, const engine::ShotRequest& request, PageReport& report) {
    const auto result = engine.photograph(request);
    PageShot shot = describe(result);
    takeFacts(report, result);
    report.width = shot.image ? shot.image->width() : 0;
    report.height = shot.image ? shot.image->height() : 0;
    const auto kind = request.picture.format;
    if (written(shot.status) && shot.image) {
        if (const auto limit = capture::formatRefuses(kind, report.width, report.height)) {
            shot.status = Status::TooLarge;
            shot.message = format(tr("the picture is %d x %d px, and %s holds at most %s: write it as %s instead"),
                                  report.width, report.height, capture::formatName(kind), limit->limit.c_str(),
                                  capture::formatName(limit->instead));
            shot.image.reset();
        }
    }
    if (!written(shot.status)) {
        shot.image.reset();
        shot.printed.reset();
    }
    shot.document = {result.title, result.finalAddress.empty() ? request.address : result.finalAddress,
                     shot.printed ? shot.printed->takenAt : 0};
    shot.onePage = request.print.height <= 0;
    return shot;
}

void putDocument(PageShot& shot, const std::function<std::error_code(const std::string&)>& put) {
    // The headings are sought in the print-out while the document is read.
    auto found = std::async(std::launch::async, [&printed = *shot.printed] { return findHeadings(printed); });
    const auto made = capture::makeDocument(*shot.printed, shot.document, [&found] { return found.get(); });
    shot.printed.reset();  // its print-out goes with it
    if (const auto error = made.error ? made.error : put(made.bytes)) {
        shot.status = Status::WriteFailed;
        shot.message = error.message();
        return;
    }
    shot.pages = made.pages;
    // Past the tallest page readers open, one page goes on over several.
    if (shot.onePage && made.pages > 1 && shot.message.empty())
        shot.message = format(tr("the page is taller than one PDF page holds (200 in): it goes on over %d pages"), made.pages);
}

void writePage(PageShot& shot, const std::string& path, const engine::PictureFile& picture, bool thumbnail) {
    if (shot.printed) {
        putDocument(shot, [&](const std::string& bytes) {
            return capture::writeAtomically(path, [&](int fd) { return capture::writeAll(fd, bytes.data(), bytes.size()); });
        });
        if (thumbnail && written(shot.status)) sayThumbnailFailure(writeFirstPageThumbnail(path), shot.message);
        return;
    }
    if (!shot.image) return;
    if (const auto error = capture::writeImageFile(*shot.image, path, picture.format, {picture.quality, !picture.lossy})) {
        shot.status = Status::WriteFailed;
        shot.message = error.message();
    } else if (thumbnail) {
        // Made while the picture is in memory.
        sayThumbnailFailure(writeThumbnail(*shot.image, path), shot.message);
    }
    shot.image.reset();  // the picture's memory goes as soon as it is written
}

WorkerAnswer doTask(engine::IShotEngine& engine, const WorkerTask& task, const std::function<void(PageShot&)>& write) {
    const auto began = std::chrono::steady_clock::now();
    WorkerAnswer a;
    a.id = task.id;
    a.report.address = task.request.address;
    auto shot = shootPage(engine, task.request, a.report);
    if (write) write(shot);
    else writePage(shot, task.path, task.request.picture, task.thumbnail);
    a.report.status = shot.status;
    a.report.message = shot.message;
    a.report.pages = shot.pages;
    if (written(shot.status)) a.report.file = task.path;
    a.report.milliseconds = static_cast<long>(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
    a.last = !task.request.identity.user.empty();
    return a;
}

}  // namespace shot
