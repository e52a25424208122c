// Which kept engine a one-page command may use: named after what shapes its pictures,
// in a folder nobody else may enter.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "shot/WarmPlace.h"

namespace {

TEST(WarmPlace, TheEnvironmentThatShapesPicturesAndRequestsNamesTheEngine) {
    const std::vector<std::string> base = {"DISPLAY=:5", "LANG=C.UTF-8", "TZ=UTC", "HOME=/root", "TERM=xterm"};
    const auto name = [&](std::vector<std::string> changes, int scale = 1, int memory = 2048) {
        auto env = base;
        env.insert(env.end(), changes.begin(), changes.end());
        return shot::socketName(shot::engineKey(env, scale, memory));
    };
    const std::string plain = name({});
    struct Case {
        std::vector<std::string> added;
        bool sameEngine;
    };
    const std::vector<Case> cases = {
        {{"TZ=Asia/Shanghai"}, false},     {{"LC_ALL=zh_CN.UTF-8"}, false}, {{"LANGUAGE=zh_CN"}, false},
        {{"WAYLAND_DISPLAY=wayland-0"}, false}, {{"https_proxy=http://127.0.0.1:3128"}, false},
        {{"ALL_PROXY=socks5://127.0.0.1"}, false}, {{"FONTCONFIG_FILE=/etc/fonts/other.conf"}, false},
        {{"PATH=/nonexistent"}, false},    {{"XDG_DATA_DIRS=/opt/share"}, false}, {{"GDK_SCALE=2"}, false},
        {{"WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1"}, false}, {{"LD_LIBRARY_PATH=/opt/lib"}, false},
        {{"TERM=dumb"}, true},             {{"PWD=/elsewhere"}, true},      {{"VEMO_KEEP_ENGINE=5"}, true},
        {{"SHLVL=3", "OLDPWD=/tmp"}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(name(c.added) == plain, c.sameEngine) << c.added[0];
    EXPECT_NE(name({}, 2), plain) << "another scale";
    EXPECT_NE(name({}, 1, 512), plain) << "another memory limit";
    // The order the environment comes in is no matter.
    auto reversed = base;
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(shot::socketName(shot::engineKey(reversed, 1, 2048)), plain);
}

TEST(WarmPlace, HowLongAnEngineStays) {
    struct Case {
        int given;
        const char* env;
        int seconds;
    };
    for (const auto& c : std::vector<Case>{{-1, nullptr, 30}, {-1, "", 30}, {-1, "5", 5}, {-1, "0", 0}, {7, "5", 7},
                                           {0, "60", 0}, {-1, "soon", 30}, {-1, "-3", 30}, {-1, "12s", 30}})
        EXPECT_EQ(shot::keepSeconds(c.given, c.env), c.seconds) << c.given << " " << (c.env ? c.env : "(unset)");
}

TEST(WarmPlace, OnlyAPrivateFolderOfTheUsersOwnIsUsed) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("warm-place-" + std::to_string(::getpid()));
    fs::create_directories(dir / "mine");
    ::chmod((dir / "mine").c_str(), 0700);
    fs::create_directories(dir / "open");
    ::chmod((dir / "open").c_str(), 0755);
    fs::create_directory_symlink(dir / "mine", dir / "link");
    { std::ofstream(dir / "file") << "x"; }
    fs::create_directories(dir / "theirs");
    ::chmod((dir / "theirs").c_str(), 0700);
    ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
    struct Case {
        const char* name;
        bool usable;
    };
    for (const auto& c : std::vector<Case>{{"mine", true}, {"open", false}, {"link", false}, {"file", false},
                                           {"theirs", false}, {"missing", false}}) {
        std::string why;
        EXPECT_EQ(shot::privateFolder(dir / c.name, why), c.usable) << c.name;
        EXPECT_EQ(why.empty(), c.usable) << c.name << ": " << why;
    }
    // The folder made in the runtime folder, or in /tmp when that is not private.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string before = runtime ? runtime : "";
    for (const auto& [given, expected] : std::vector<std::pair<fs::path, fs::path>>{
             {dir / "mine", dir / "mine" / "vemo-shot"}, {dir / "open", "/tmp/vemo-shot-" + std::to_string(::getuid())}}) {
        ::setenv("XDG_RUNTIME_DIR", given.c_str(), 1);
        std::string why;
        EXPECT_EQ(shot::warmFolder(why), expected.string()) << why;
        struct stat st{};
        ASSERT_EQ(::stat(expected.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    if (runtime) ::setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(dir);
}

}  // namespace
