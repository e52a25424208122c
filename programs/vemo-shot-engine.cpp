// The capture command with its engine, which `vemo-shot` becomes for all but a page it
// sends to the engine kept warm (and which that engine is): options, a display of its
// own where there is none, the engine, and the run.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <libintl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "platform/PrivateDisplay.h"
#include "programs/CommandSetup.h"
#include "engine/ShotEngine.h"
#include "engine/WebViews.h"
#include "shot/Messages.h"
#include "shot/Options.h"
#include "shot/Run.h"
#include "shot/WarmEngine.h"
#include "service/BatchClient.h"
#include "service/Request.h"
#include "service/Service.h"
#include "shot/Worker.h"

namespace {

using programs::localeDir;
using programs::selfPath;
using programs::terminalColumns;

std::atomic<bool> interrupted{false};

}  // namespace

int main(int argc, char** argv) {
    // Known by the command's name, as the program the user started.
    ::prctl(PR_SET_NAME, "vemo-shot");
    std::setlocale(LC_ALL, "");
    bindtextdomain(shot::kTextDomain, localeDir().c_str());
    bind_textdomain_codeset(shot::kTextDomain, "UTF-8");

    const auto parsed = shot::parseOptions(std::vector<std::string>(argv, argv + argc));
    if (!parsed.options) {
        std::cerr << "vemo-shot: " << parsed.error << "\n" << shot::tr("Try 'vemo-shot --help' for more information.") << "\n";
        return shot::kExitUsage;
    }
    const auto& options = *parsed.options;
    const int answers = options.worker ? shot::takeAnswerChannel() : -1;
    if (options.help) {
        std::cout << shot::usageText("vemo-shot");
        return shot::kExitOk;
    }
    if (!options.service.empty())
        if (const auto problem = service::sentProblem(options); !problem.empty()) {
            std::cerr << "vemo-shot: " << problem << "\n";
            return shot::kExitUsage;
        }
    if (options.version) {
        std::cout << "vemo-shot " << VEMO_VERSION << "\n";
        return shot::kExitOk;
    }

    // A kept engine hears what it and its processes print, for the commands it serves.
    const int engineErrors = options.warmEngine.empty() ? -1 : shot::takeEngineErrors();

    if (!options.serve) engine::startSandboxCheck();
    std::unique_ptr<platform::PrivateDisplay> display;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!wayland || !*wayland)) {
        std::string error;
        display = platform::PrivateDisplay::start(1280, 1024, error);
        if (!display) {
            std::cerr << shot::format(shot::tr("vemo-shot: no display, and no virtual one could be started: %s"),
                                      error.c_str()) << "\n";
            return shot::kExitLoadFailed;
        }
        setenv("DISPLAY", display->name().c_str(), 1);
        setenv("GDK_BACKEND", "x11", 1);
    }
    if (options.scale == 2) setenv("GDK_SCALE", "2", 1);
    engine::keepNothingOnDisk();
    engine::limitPageMemory(options.maxMemoryMB);
    engine::keepPagesLight();
    // No assistive technology listens to a window nobody sees: neither this process nor
    // the engine's look for one (nor warn that they found none).
    setenv("NO_AT_BRIDGE", "1", 1);
    // Nor does a page need a session bus (desktop portals). Handed the address of one that
    // is gone (a session's, gone stale), the engine's proxy to it fails and the engine
    // aborts; run as root, the proxy leaves a /.flatpak-info on the real root, which turns
    // the sandbox off for every engine started after it. A bus of the user's own session,
    // where the system keeps it, is still found.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("WEBKIT_A11Y_BUS_ADDRESS", "", 1);
    // Pages are painted on the processor and shown nowhere: the engine need not look for
    // a graphics device, nor start OpenGL in this process (about 70 ms at every start).
    setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 0);
    setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "/dev/null", 0);
    g_set_prgname("vemo-shot");
    if (options.serve) {
        // The service's engines are workers of their own, started from this program.
        const int status = service::serve(options, selfPath(argv[0]));
        display.reset();
        return status;
    }
    // A kept engine's page is stopped by its command, and the engine by these.
    static std::atomic<bool> pageStopped{false};
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        g_unix_signal_add(sig, [](gpointer) -> gboolean {
            interrupted = true;
            pageStopped = true;
            return G_SOURCE_CONTINUE;
        }, nullptr);

    std::unique_ptr<engine::ShotEngine> shooter;
    // The display is opened for an engine of this process alone: a batch of workers, or
    // one sent to a service, needs none here.
    auto local = [&]() -> engine::IShotEngine& {
        if (!shooter) {
            if (!gtk_init_check(nullptr, nullptr)) {
                std::cerr << shot::tr("vemo-shot: the display cannot be opened") << std::endl;
                std::_Exit(shot::kExitLoadFailed);
            }
            shooter = std::make_unique<engine::ShotEngine>(options.warmEngine.empty() ? interrupted : pageStopped);
        }
        return *shooter;
    };
    int status = shot::kExitOk;
    if (!options.warmEngine.empty()) {
        // Its engine started now: what it says as it starts (the sandbox's word, say) is
        // said to every command.
        status = shot::serveWarm(local(), {options.warmEngine, std::max(1, options.keepEngineS), engineErrors, 3},
                                 pageStopped, interrupted);
    } else if (options.worker) {
        shot::serveAsWorker(local(), answers, interrupted);
    } else {
        // A batch of several engines starts workers of this program.
        const shot::Engines engines{local, {selfPath(argv[0]), "--worker", "--max-memory=" + std::to_string(options.maxMemoryMB)},
                                    options.service.empty() ? std::function<void(shot::Ledger&)>{}
                                                            : service::batchThroughService(options, interrupted)};
        status = shot::run(options, engines, {std::cerr, ::isatty(2) != 0, terminalColumns}, interrupted);
    }
    // Every file is written and closed. The engine's processes end with their connection
    // to this one: taking the engine and the libraries down piece by piece would only
    // keep the caller waiting (about 50 ms).
    std::cout.flush();
    std::cerr.flush();
    engine::removeSandboxFolders();
    display.reset();
    std::_Exit(status);
}
