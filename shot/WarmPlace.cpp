#include "shot/WarmPlace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shot/Messages.h"

namespace shot {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::uint64_t fnv1a(const std::string& text, std::uint64_t h = 1469598103934665603ull) {
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

std::string programIdentity(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return VEMO_VERSION;
    char text[160];
    std::snprintf(text, sizeof text, "%s %llu:%llu %lld %lld.%09ld", VEMO_VERSION, static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    return text;
}

bool privateFolder(const std::string& path, std::string& why) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        why = format(tr("'%s': %s"), path.c_str(), std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) why = format(tr("'%s' is not a folder"), path.c_str());
    else if (st.st_uid != ::getuid()) why = format(tr("'%s' belongs to another user"), path.c_str());
    else if (st.st_mode & 077) why = format(tr("others may enter '%s'"), path.c_str());
    else return true;
    return false;
}

std::string warmFolder(std::string& why) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime && runtime[0] == '/') {
        std::string ignored;
        if (privateFolder(runtime, ignored)) folder = std::string(runtime) + "/vemo-shot";
    }
    if (folder.empty()) folder = "/tmp/vemo-shot-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = format(tr("cannot make '%s': %s"), folder.c_str(), std::strerror(errno));
        return {};
    }
    return privateFolder(folder, why) ? folder : std::string();
}

bool shapesEngine(const std::string& variable) {
    const std::string name = variable.substr(0, variable.find('='));
    if (name == "VEMO_KEEP_ENGINE") return false;  // how long it stays, sent with each page
    static const char* const kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "LANG", "LANGUAGE", "TZ", "TZDIR",
                                         "HOME", "PATH", "NO_AT_BRIDGE", "TMPDIR", "SSL_CERT_FILE", "SSL_CERT_DIR"};
    static const char* const kPrefixes[] = {"LC_", "XDG_", "FONTCONFIG_", "FC_", "GDK_", "GTK_", "GIO_", "GSETTINGS_",
                                            "G_", "GST_", "WEBKIT_", "JSC_", "PANGO", "GNUTLS_", "LD_", "DBUS_",
                                            "LIBGL_", "MESA_", "VEMO_", "AT_SPI"};
    if (std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames)) return true;
    for (const char* prefix : kPrefixes)
        if (startsWith(name, prefix)) return true;
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.find("proxy") != std::string::npos;
}

std::string engineKey(const std::vector<std::string>& environment, int scale, int maxMemoryMB) {
    std::vector<std::string> shaping;
    for (const auto& v : environment)
        if (shapesEngine(v)) shaping.push_back(v);
    std::sort(shaping.begin(), shaping.end());
    std::string key = programIdentity("/proc/self/exe") + "\nscale=" + std::to_string(scale) + "\nmemory=" + std::to_string(maxMemoryMB);
    for (const auto& v : shaping) key += "\n" + v;
    return key;
}

std::string socketName(const std::string& key) {
    char name[40];
    std::snprintf(name, sizeof name, "engine-%016llx", static_cast<unsigned long long>(fnv1a(key)));
    return name;
}

std::string lockPathFor(const std::string& socket) { return socket + ".lock"; }
std::string pidPathFor(const std::string& socket) { return socket + ".pid"; }

int keepSeconds(int given, const char* fromEnvironment) {
    if (given >= 0) return given;
    if (fromEnvironment && *fromEnvironment) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(fromEnvironment, &end, 10);
        if (!errno && *end == 0 && v >= 0 && v <= 86400) return static_cast<int>(v);
    }
    return 30;
}

}  // namespace shot
