#include "shot/WarmEngine.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <vector>

#include "capture/AtomicFile.h"
#include "capture/ImageFiles.h"
#include "shot/PageFile.h"
#include "shot/RequestJson.h"
#include "shot/WarmChannel.h"
#include "shot/WarmPlace.h"
#include "shot/Worker.h"

namespace shot {

namespace {

// What the engine's processes print: passed on to the command whose page is under way,
// dropped between pages. What it printed as it started is said again to every page's
// command, as a command that starts its own engine says it.
struct Errors {
    int pipe = -1;
    int to = -1;  // the command's standard error, while its page is under way
    std::string startup;

    void drain() {
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(pipe, chunk, sizeof chunk)) > 0)
            if (to >= 0) capture::writeAll(to, chunk, static_cast<std::size_t>(n));
    }
};

struct Served {
    bool last = false;  // the engine ends after this page
};

// Reads a page's two lines (how long to stay, the task) and the descriptors with them.
bool readPage(int conn, std::string& header, std::string& task, std::vector<Fd>& fds) {
    std::string buffer;
    const auto until = WarmClock::now() + std::chrono::seconds(10);
    for (;;) {
        if (buffer.find('\n') != std::string::npos && buffer.find('\n', buffer.find('\n') + 1) != std::string::npos) break;
        if (!awaitReadable(conn, until) || receive(conn, buffer, fds) <= 0) return false;
    }
    header = *takeLine(buffer);
    task = *takeLine(buffer);
    return true;
}

int headerInt(const std::string& header, const char* name, int otherwise) {
    JsonNode* node = parseJson(header);
    int v = otherwise;
    if (node && JSON_NODE_HOLDS_OBJECT(node))
        v = static_cast<int>(json_object_get_int_member_with_default(json_node_get_object(node), name, otherwise));
    if (node) json_node_unref(node);
    return v;
}

Served serve(engine::IShotEngine& engine, int conn, Errors& errors, int& keepS, std::atomic<bool>& stop) {
    // Another user's process never has a page photographed with this user's files.
    const auto peer = peerOf(conn);
    if (!peer || peer->uid != ::getuid()) return {};
    std::string header, line, why;
    std::vector<Fd> fds;
    if (!readPage(conn, header, line, fds) || fds.empty()) return {};
    const auto task = parseTask(line, why);
    if (!task) return {};
    keepS = headerInt(header, "keep", keepS);
    const bool intoFile = headerInt(header, "file", 0) && fds.size() >= 2;
    errors.to = fds[0].get();
    capture::writeAll(errors.to, errors.startup.data(), errors.startup.size());
    if (!sendAll(conn, "{\"ready\":true}\n")) return {};

    // Anything more from the command, or its leaving, stops the page.
    const guint watch = g_unix_fd_add(conn, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                      [](gint, GIOCondition, gpointer d) -> gboolean {
                                          static_cast<std::atomic<bool>*>(d)->store(true);
                                          return G_SOURCE_REMOVE;
                                      }, &stop);
    // The command's file, made in the destination's folder, or else the path itself.
    auto intoDescriptor = [&](PageShot& shot) {
        if (shot.printed)
            putDocument(shot, [&](const std::string& bytes) { return capture::writeAll(fds[1].get(), bytes.data(), bytes.size()); });
        if (!shot.image) return;
        const auto& p = task->request.picture;
        if (const auto error = capture::writeImageTo(fds[1].get(), *shot.image, p.format, {p.quality, !p.lossy})) {
            shot.status = Status::WriteFailed;
            shot.message = error.message();
        }
        shot.image.reset();
    };
    const auto a = doTask(engine, *task, intoFile ? std::function<void(PageShot&)>(intoDescriptor) : nullptr);
    if (GSource* still = g_main_context_find_source_by_id(nullptr, watch); still && !g_source_is_destroyed(still))
        g_source_remove(watch);
    stop = false;
    errors.drain();
    errors.to = -1;
    sendAll(conn, answerLine(a));
    // What the page left is forgotten before the next command comes (its cookies,
    // storage, caches), not while it waits.
    if (!a.last) engine.forgetVisits();
    return {a.last};
}

// Waits on the main loop, so the engine's own work goes on, until a command connects,
// `idleMs` pass, or `quit`. Whether one connected.
bool awaitCommand(int listener, int idleMs, const std::atomic<bool>& quit) {
    struct Wait {
        bool connected = false, idle = false;
    } w;
    const guint watch = g_unix_fd_add(listener, G_IO_IN, [](gint, GIOCondition, gpointer d) -> gboolean {
        static_cast<Wait*>(d)->connected = true;
        return G_SOURCE_REMOVE;
    }, &w);
    const guint timer = g_timeout_add(static_cast<guint>(idleMs), [](gpointer d) -> gboolean {
        static_cast<Wait*>(d)->idle = true;
        return G_SOURCE_REMOVE;
    }, &w);
    while (!w.connected && !w.idle && !quit) g_main_context_iteration(nullptr, TRUE);
    if (!w.connected) g_source_remove(watch);
    if (!w.idle) g_source_remove(timer);
    return w.connected;
}

}  // namespace

int takeEngineErrors() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    ::dup2(ends[1], 2);  // without close-on-exec: the engine's processes write here too
    ::dup2(ends[1], 1);
    ::close(ends[1]);
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    return ends[0];
}

int serveWarm(engine::IShotEngine& engine, const WarmEngineSetup& setup, std::atomic<bool>& stop,
              const std::atomic<bool>& quit) {
    Fd listener = listenAt(setup.socket);
    if (!listener) return 1;
    struct stat mine{};
    ::stat(setup.socket.c_str(), &mine);
    std::ofstream(pidPathFor(setup.socket)) << ::getpid() << "\n";
    Errors errors{setup.errors, -1, {}};
    {
        // What it said as it started, kept for every page's command.
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(setup.errors, chunk, sizeof chunk)) > 0) errors.startup.append(chunk, static_cast<std::size_t>(n));
    }
    const guint dropping = g_unix_fd_add(setup.errors, G_IO_IN, [](gint, GIOCondition, gpointer d) -> gboolean {
        static_cast<Errors*>(d)->drain();
        return G_SOURCE_CONTINUE;
    }, &errors);
    if (setup.ready >= 0) {
        capture::writeAll(setup.ready, "ready\n", 6);
        ::close(setup.ready);
    }
    int keepS = setup.keepS;
    bool last = false;
    while (!quit && !last) {
        if (!awaitCommand(listener.get(), keepS * 1000, quit)) break;
        Fd conn(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (conn) last = serve(engine, conn.get(), errors, keepS, stop).last;
    }
    // Leaving: the socket goes first, under the lock, so that a command either reached
    // this engine before (and is served) or starts another.
    Fd lock(::open(lockPathFor(setup.socket).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock) ::flock(lock.get(), LOCK_EX);
    struct stat now{};
    if (::stat(setup.socket.c_str(), &now) == 0 && now.st_ino == mine.st_ino && now.st_dev == mine.st_dev) {
        ::unlink(setup.socket.c_str());
        ::unlink(pidPathFor(setup.socket).c_str());
    }
    ::fcntl(listener.get(), F_SETFL, O_NONBLOCK);
    // Commands that reached it meanwhile are served; after a login they are turned away
    // unanswered, and take another engine.
    while (!quit) {
        Fd conn(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!conn) break;
        if (!last) serve(engine, conn.get(), errors, keepS, stop);
    }
    g_source_remove(dropping);
    return 0;
}

}  // namespace shot
