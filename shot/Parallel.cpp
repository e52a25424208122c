#include "shot/Parallel.h"

#include <memory>

#include "shot/EnginePool.h"
#include "shot/Loop.h"
#include "shot/Run.h"

namespace shot {

void photographWithWorkers(const Options& o, Ledger& ledger, const std::vector<std::string>& workerCommand, int engines,
                           const std::atomic<bool>& interrupted) {
    // Every page of a batch has the batch's scale: no engine of another is started.
    EnginePool pool(workerCommand, engines, {}, o.scale);
    std::size_t next = 0, running = 0;
    auto start = [&] {
        while (!interrupted && running < static_cast<std::size_t>(engines) && next < ledger.pages().size()) {
            const std::size_t i = next++;
            if (ledger.writtenBefore(i)) continue;
            const auto& page = ledger.pages()[i];
            auto job = std::make_shared<EngineJob>();
            job->task.request = requestFor(o, page.address);
            job->task.path = page.path;
            job->task.thumbnail = o.index;
            job->task.fresh = false;  // one caller's pages, as one engine takes them
            job->done = [&ledger, &running, i](const WorkerAnswer& a) {
                --running;
                PageReport report = a.report;
                report.address = ledger.pages()[i].address;
                ledger.finish(i, std::move(report));
            };
            ledger.begin(i);
            // Every page waits its turn in the pool's queue: it is never full. A page no
            // engine can be started for fails with the reason.
            if (pool.submit(job, ledger.pages().size()) == EnginePool::Submitted::Queued) {
                ++running;
            } else {
                PageReport report;
                report.address = page.address;
                report.status = Status::LoadFailed;
                report.message = pool.unavailable(o.scale);
                ledger.finish(i, std::move(report));
            }
        }
    };
    // Answers come on the main loop; each makes room for the next page. Interrupted,
    // the pages under way stop at once, as one engine's page does.
    bool told = false;
    turnLoopUntil([&] {
        if (interrupted && !told) {
            told = true;
            pool.interrupt();
        }
        start();
        return running == 0;
    });
    pool.stop(3000);
}

}  // namespace shot
