#include "shot/Loop.h"

#include <glib.h>

namespace shot {

bool turnLoopUntil(const std::function<bool()>& done, int ms) {
    const gint64 until = ms < 0 ? G_MAXINT64 : g_get_monotonic_time() + static_cast<gint64>(ms) * 1000;
    // A signal heard sets a flag and nothing on the loop may change: the loop is woken
    // now and then to look.
    const guint wake = g_timeout_add(50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool finished = done();
    while (!finished && g_get_monotonic_time() < until) {
        g_main_context_iteration(nullptr, TRUE);
        finished = done();
    }
    g_source_remove(wake);
    return finished;
}

}  // namespace shot
