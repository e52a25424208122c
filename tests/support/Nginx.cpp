#include "tests/support/Nginx.h"

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/support/Command.h"
#include "tests/support/HttpClient.h"

namespace support {

namespace {
constexpr const char* kNginx = "/usr/sbin/nginx";
}

bool Nginx::installed() { return std::filesystem::exists(kNginx); }

Nginx::Nginx(const std::vector<int>& ports) : port_(freePort()) {
    std::ifstream in(std::string(VEMO_SOURCE) + "/resources/nginx/vemo-shot.conf");
    std::string site((std::istreambuf_iterator<char>(in)), {});
    std::string servers;
    for (int p : ports) servers += "    server 127.0.0.1:" + std::to_string(p) + " max_fails=2 fail_timeout=5s;\n";
    site = std::regex_replace(site, std::regex("(    server 127\\.0\\.0\\.1:[0-9]+[^\n]*\n)+"), servers);
    site = std::regex_replace(site, std::regex("listen 8080;"), "listen 127.0.0.1:" + std::to_string(port_) + ";");
    const std::string d = dir.dir();
    std::ofstream(dir.path("nginx.conf")) << "user root;\nworker_processes 1;\npid " << d << "/nginx.pid;\n"
        << "error_log " << d << "/error.log;\nevents { worker_connections 256; }\nhttp {\n"
        << "access_log off;\nclient_body_temp_path " << d << "/body;\nproxy_temp_path " << d << "/proxy;\n"
        << "fastcgi_temp_path " << d << "/f;\nuwsgi_temp_path " << d << "/u;\nscgi_temp_path " << d << "/s;\n"
        << site << "}\n";
    pid_ = startCommand({kNginx, "-p", d, "-c", dir.path("nginx.conf"), "-g", "daemon off;"}, {}, dir.path("nginx.err"));
    eventually([&] { return httpRequest(port_, "GET", "/health", {}, {}, 2000).status == 200; });
}

Nginx::~Nginx() {
    ::kill(pid_, SIGQUIT);
    waitCommand(pid_);
}

}  // namespace support
