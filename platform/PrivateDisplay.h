// A virtual X screen of the program's own (Xvfb), for running where there is no
// display; ended with the object, and with the program however it ends.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace platform {

class PrivateDisplay {
public:
    // Starts Xvfb with a screen of that size on a free display; null when it cannot.
    static std::unique_ptr<PrivateDisplay> start(int width, int height, std::string& error);
    ~PrivateDisplay();
    const std::string& name() const { return name_; }  // ":N"

private:
    PrivateDisplay(pid_t pid, std::string name) : pid_(pid), name_(std::move(name)) {}
    pid_t pid_;
    std::string name_;
};

}  // namespace platform
