#include "tests/support/Command.h"

#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/GuiHarness.h"

namespace support {

namespace {

void applyEnv(const std::vector<std::string>& env) {
    for (const auto& e : env) {
        const auto eq = e.find('=');
        if (eq == std::string::npos) ::unsetenv(e.c_str());
        else ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
}

std::string slurp(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    return s;
}

[[noreturn]] void exec(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

}  // namespace

Outcome runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int err[2], out[2];
    if (::pipe(err) || ::pipe(out)) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        applyEnv(env);
        ::dup2(err[1], 2);
        ::dup2(out[1], 1);
        ::close(err[0]);
        ::close(out[0]);
        exec(argv);
    }
    ::close(err[1]);
    ::close(out[1]);
    Outcome o;
    o.out = slurp(out[0]);
    o.err = slurp(err[0]);
    ::close(out[0]);
    ::close(err[0]);
    o.status = waitCommand(pid);
    return o;
}

pid_t startCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& errFile) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        applyEnv(env);
        const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        exec(argv);
    }
    return pid;
}

int waitCommand(pid_t pid) {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return statusOf(raw);
}

std::optional<int> waitCommand(pid_t pid, std::chrono::milliseconds limit) {
    int raw = 0;
    if (eventually([&] { return ::waitpid(pid, &raw, WNOHANG) == pid; }, limit)) return statusOf(raw);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &raw, 0);
    return std::nullopt;
}

std::optional<Picture> readPicture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() > 8 && bytes.compare(1, 3, "PNG") == 0) return decodePng(bytes);
    if (bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xD8)
        return decodeJpeg(bytes);
    if (bytes.size() > 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WEBP") == 0) return decodeWebp(bytes);
    if (const auto b = Bitmap::read(path)) {
        Picture p{b->width, b->height, {}, {}};
        p.pixels.resize(static_cast<std::size_t>(p.width) * p.height);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) p.pixels[static_cast<std::size_t>(y) * p.width + x] = b->pixel(x, y);
        return p;
    }
    return std::nullopt;
}

int processCount(const std::string& name, const std::string& tag) {
    return static_cast<int>(processesOf(name, tag).size());
}

long residentKiB(const std::vector<pid_t>& pids) {
    long kib = 0;
    for (pid_t pid : pids) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) kib += std::atol(line.c_str() + 6);
    }
    return kib;
}

namespace {

// What a file of /proc holds, as far as it can be read: its process may end meanwhile.
std::string procFile(const std::string& path) {
    std::string all;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buf[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;) all.append(buf, static_cast<std::size_t>(n));
    if (fd >= 0) ::close(fd);
    return all;
}

}  // namespace

std::vector<pid_t> processesOf(const std::string& name, const std::string& tag) {
    const std::string mark = "VEMO_TEST_TAG=" + tag;
    std::vector<pid_t> found;
    DIR* d = ::opendir("/proc");
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        const std::string dir = std::string("/proc/") + e->d_name;
        std::string c = procFile(dir + "/comm");
        if (!c.empty() && c.back() == '\n') c.pop_back();
        if (!c.empty() && (name.empty() || c == name)) {
            // A zombie is gone but for its exit status.
            const std::string all = procFile(dir + "/stat");
            const auto close = all.rfind(')');
            if (close != std::string::npos && close + 2 < all.size() && all[close + 2] == 'Z') continue;
            if (!tag.empty()) {
                const std::string env = procFile(dir + "/environ");
                if ((std::string(1, '\0') + env).find('\0' + mark + '\0') == std::string::npos) continue;
            }
            found.push_back(static_cast<pid_t>(std::atol(e->d_name)));
        }
    }
    if (d) ::closedir(d);
    return found;
}

}  // namespace support

namespace support {

std::string uniqueTag() {
    static int n = 0;
    return std::to_string(::getpid()) + "-" + std::to_string(++n);
}

}  // namespace support

namespace support {

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace support
