// Photographing a page with the capture command, as the command tests do: its outcome
// and the picture it wrote, read back; also with the command held still a while.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

namespace support {

struct Shot {
    Outcome run;
    std::optional<Picture> picture;
};

class PageShots : public ::testing::Test {
protected:
    Shot shot(const std::string& url, std::vector<std::string> args = {}, const std::string& name = "p.png") {
        args.insert(args.begin(), VEMO_SHOT);
        args.push_back(url);
        args.push_back(out.path(name));
        Shot s{runCommand(args), std::nullopt};
        if (std::filesystem::exists(out.path(name))) s.picture = readPicture(out.path(name));
        return s;
    }
    // The command held still (SIGSTOP) for `ms` once `when` holds, as a busy machine may:
    // its engine is its own.
    Shot heldShot(const std::string& url, std::vector<std::string> args, const std::function<bool()>& when, int ms,
                  int limitS, const std::string& name = "p.png") {
        args.insert(args.begin(), {VEMO_SHOT, "--keep-engine=0"});
        args.insert(args.end(), {url, out.path(name)});
        const pid_t pid = startCommand(args, {}, out.path("err.txt"));
        EXPECT_TRUE(eventually(when, std::chrono::seconds(limitS))) << url;
        ::kill(pid, SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        ::kill(pid, SIGCONT);
        Shot s{{waitCommand(pid, std::chrono::seconds(limitS + 10)).value_or(-1), {}, {}}, std::nullopt};
        std::ifstream err(out.path("err.txt"));
        s.run.err.assign(std::istreambuf_iterator<char>(err), {});
        s.picture = readPicture(out.path(name));
        return s;
    }
    HttpServer server;
    TempDir out;
};

}  // namespace support
