#include "tests/support/Command.h"

#include <dirent.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <spng.h>
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

std::optional<Picture> readPng(const std::string& bytes) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_image_limits(ctx, 1u << 20, 1u << 20);
    spng_set_chunk_limits(ctx, 1u << 30, 1u << 30);
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    spng_ihdr ihdr{};
    std::size_t size = 0;
    std::optional<Picture> p;
    if (!spng_get_ihdr(ctx, &ihdr) && !spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size)) {
        std::vector<std::uint8_t> rgb(size);
        if (!spng_decode_image(ctx, rgb.data(), size, SPNG_FMT_RGB8, 0)) {
            p = Picture{static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), {}};
            p->pixels.resize(size / 3);
            for (std::size_t i = 0; i < p->pixels.size(); ++i)
                p->pixels[i] = rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
        }
    }
    spng_ctx_free(ctx);
    return p;
}

std::optional<Picture> readJpeg(const std::string& bytes) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    Picture p{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), {}};
    p.pixels.resize(static_cast<std::size_t>(p.width) * p.height);
    std::vector<unsigned char> row(static_cast<std::size_t>(p.width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&cinfo, &r, 1);
        for (int x = 0; x < p.width; ++x)
            p.pixels[static_cast<std::size_t>(y) * p.width + x] = row[3 * x] << 16 | row[3 * x + 1] << 8 | row[3 * x + 2];
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return p;
}

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

std::optional<Picture> Picture::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() > 8 && bytes.compare(1, 3, "PNG") == 0) return readPng(bytes);
    if (bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xD8)
        return readJpeg(bytes);
    if (const auto b = Bitmap::read(path)) {
        Picture p{b->width, b->height, {}};
        p.pixels.resize(static_cast<std::size_t>(p.width) * p.height);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) p.pixels[static_cast<std::size_t>(y) * p.width + x] = b->pixel(x, y);
        return p;
    }
    return std::nullopt;
}

int processCount(const std::string& name) {
    int n = 0;
    DIR* d = ::opendir("/proc");
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
        std::string c;
        if (std::getline(comm, c) && c == name) {
            // A zombie is gone but for its exit status.
            std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
            std::string all((std::istreambuf_iterator<char>(stat)), {});
            const auto close = all.rfind(')');
            if (close != std::string::npos && close + 2 < all.size() && all[close + 2] == 'Z') continue;
            ++n;
        }
    }
    if (d) ::closedir(d);
    return n;
}

}  // namespace support
