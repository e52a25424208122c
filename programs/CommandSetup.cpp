#include "programs/CommandSetup.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

namespace programs {

namespace {

std::filesystem::path self() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

}  // namespace

std::string selfPath(const char* argv0) {
    const auto path = self();
    return path.empty() ? std::string(argv0) : path.string();
}

std::string localeDir() {
    const auto path = self();
    if (path.empty()) return "/usr/share/locale";
    std::error_code ec;
    const auto here = path.parent_path() / "locale";
    if (std::filesystem::is_directory(here, ec)) return here.string();
    return (path.parent_path().parent_path() / "share" / "locale").string();
}

std::string engineProgram() {
    const auto path = self();
    const auto beside = path.parent_path() / "vemo-shot-engine";
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside.string();
    const std::filesystem::path libexec(VEMO_LIBEXEC_DIR);
    return ((libexec.is_absolute() ? libexec : path.parent_path().parent_path() / libexec) / "vemo-shot-engine").string();
}

int terminalColumns() {
    winsize size{};
    return ::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

}  // namespace programs
