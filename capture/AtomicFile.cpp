#include "capture/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

namespace capture {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Where the bytes are to go: the end of a chain of symbolic links, or the name itself.
std::string finalTarget(const std::string& path) {
    struct stat link{};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    std::error_code ec;
    // A dangling link names a file that does not exist yet: resolve what can be.
    const auto resolved = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
    return ec ? path : resolved.string();
}

}  // namespace

std::error_code writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

std::error_code writeAtomically(const std::string& name, const std::function<std::error_code(int fd)>& body) {
    namespace fs = std::filesystem;
    if (name.empty()) return std::make_error_code(std::errc::invalid_argument);
    const std::string path = finalTarget(name);

    struct stat old{};
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    if (replacing) {
        if (S_ISDIR(old.st_mode)) return std::make_error_code(std::errc::is_a_directory);
        // A file its owner made read-only is one they mean to keep, whoever saves.
        if ((old.st_mode & 0222) == 0) return std::make_error_code(std::errc::permission_denied);
    }

    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    // A short hidden name of its own: any name the folder takes, however long, works.
    std::string temp = (folder / ".vemo-snapshot.XXXXXX").string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return lastError();

    std::error_code failure = body(fd);
    if (!failure && ::fchmod(fd, replacing ? (old.st_mode & 07777) : newFileMode()) != 0) failure = lastError();
    if (!failure && ::fsync(fd) != 0) failure = lastError();
    if (::close(fd) != 0 && !failure) failure = lastError();
    if (!failure && ::rename(temp.c_str(), path.c_str()) != 0) failure = lastError();
    if (failure) {
        ::unlink(temp.c_str());
        return failure;
    }
    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

}  // namespace capture
