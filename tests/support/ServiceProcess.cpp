#include "tests/support/ServiceProcess.h"

#include <signal.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/Command.h"

namespace support {

ServiceProcess::ServiceProcess(std::vector<std::string> args, const std::string& host, std::vector<std::string> env,
                               bool untilReady)
    : port_(freePort()), tag_(uniqueTag()) {
    args.insert(args.begin(), {VEMO_SHOT, "--serve", "--listen=" + host + ":" + std::to_string(port_)});
    std::filesystem::create_directories(dir.path("runtime"));
    std::filesystem::permissions(dir.path("runtime"), std::filesystem::perms::owner_all);
    // Its temporary folder, where its engines write pictures, is its own.
    std::filesystem::create_directories(dir.path("tmp"));
    env.insert(env.end(), {"VEMO_TEST_TAG=" + tag_, "XDG_RUNTIME_DIR=" + dir.path("runtime"), "TMPDIR=" + dir.path("tmp")});
    pid_ = startCommand(args, env, dir.path("err.txt"));
    eventually([&] {
        const int status = get("/health", 2000).status;
        return status == 200 || (!untilReady && status != 0);
    });
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) stop();
}

HttpReply ServiceProcess::get(const std::string& target, int ms, std::vector<std::string> headers) {
    return httpRequest(port_, "GET", target, headers, {}, ms);
}

HttpReply ServiceProcess::post(const std::string& json, std::vector<std::string> headers) {
    headers.push_back("Content-Type: application/json");
    return httpRequest(port_, "POST", "/shot", headers, json);
}

int ServiceProcess::stop() {
    ::kill(pid_, SIGTERM);
    const int status = waitCommand(pid_);
    pid_ = -1;
    return status;
}

std::string ServiceProcess::log() const {
    std::ifstream in(dir.path("err.txt"));
    return {std::istreambuf_iterator<char>(in), {}};
}

std::optional<Picture> answerPicture(const HttpReply& r, const std::string& extension) {
    TempDir d;
    std::ofstream(d.path("p." + extension), std::ios::binary) << r.body;
    return readPicture(d.path("p." + extension));
}

std::string queryEscaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            char b[4];
            std::snprintf(b, sizeof b, "%%%02X", c);
            out += b;
        }
    }
    return out;
}

std::string shotOf(const std::string& url, const std::string& more) { return "/shot?url=" + queryEscaped(url) + more; }

}  // namespace support
