#include "shot/Parallel.h"

#include <glib.h>

#include <memory>

#include "shot/EnginePool.h"
#include "shot/Run.h"

namespace shot {

void photographWithWorkers(const Options& o, Ledger& ledger, const std::vector<std::string>& workerCommand, int engines,
                           const std::atomic<bool>& interrupted) {
    EnginePool pool(workerCommand, engines);
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
            ++running;
            pool.submit(job, ledger.pages().size());
        }
    };
    start();
    // Answers come on the main loop; each makes room for the next page.
    const guint wake = g_timeout_add(50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    // Interrupted, the pages under way stop at once, as one engine's page does.
    bool told = false;
    while (running > 0) {
        g_main_context_iteration(nullptr, TRUE);
        if (interrupted && !told) {
            told = true;
            pool.interrupt();
        }
        start();
    }
    g_source_remove(wake);
    pool.stop(3000);
}

}  // namespace shot
