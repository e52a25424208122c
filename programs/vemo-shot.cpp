// The capture command as scripts start it, again and again. A page for the engine kept
// warm is sent from here, a program that links neither the engine nor the toolkit:
// loading their libraries takes longer than a warm engine takes to photograph a small
// page. Everything else is done by the program with the engine, which this process
// becomes, under the same name and process id.
#include <libintl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#include "programs/CommandSetup.h"
#include "shot/Messages.h"
#include "shot/Options.h"
#include "shot/Run.h"
#include "shot/WarmClient.h"

namespace {

std::atomic<bool> interrupted{false};

// Photographs the page in the engine kept for it; its signals are heard while it waits
// for the engine. Nothing when the page is to be photographed by a program of its own
// after all, with the signals as they were.
std::optional<int> photographWarm(const shot::Options& options) {
    sigset_t ending, before;
    sigemptyset(&ending);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, sig);
    sigprocmask(SIG_BLOCK, &ending, &before);
    struct sigaction heard{}, old[3];
    heard.sa_handler = [](int) { interrupted = true; };
    int i = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &heard, &old[i++]);
    const auto status = shot::runWarm(options, {std::cerr, ::isatty(2) != 0, programs::terminalColumns},
                                      programs::engineProgram(), interrupted);
    if (status) return status;
    i = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &old[i++], nullptr);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Options it cannot read, help and the version are the other program's to say.
    const auto parsed = shot::parseOptions(std::vector<std::string>(argv, argv + argc));
    if (parsed.options && !parsed.options->help && !parsed.options->version && shot::wantsWarmEngine(*parsed.options)) {
        bindtextdomain(shot::kTextDomain, programs::localeDir().c_str());
        bind_textdomain_codeset(shot::kTextDomain, "UTF-8");
        if (const auto status = photographWarm(*parsed.options)) {
            std::cout.flush();
            std::cerr.flush();
            std::_Exit(*status);
        }
    }
    const std::string engine = programs::engineProgram();
    ::execv(engine.c_str(), argv);
    std::cerr << "vemo-shot: " << engine << ": " << std::strerror(errno) << "\n";
    return shot::kExitLoadFailed;
}
