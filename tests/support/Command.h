// Running a built program as a user would, and reading back the pictures it wrote.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/Decoders.h"

namespace support {

struct Outcome {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string err;  // what it printed on standard error
    std::string out;
};

// Runs `argv` with the environment changed by `env` ("NAME=value" sets, "NAME" removes).
Outcome runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

// Starts it without waiting; its standard error goes to `errFile`.
pid_t startCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& errFile);
int waitCommand(pid_t);
// Its exit status once it has ended, waited for up to `limit`; empty (and the command
// killed) when it is still running then.
std::optional<int> waitCommand(pid_t, std::chrono::milliseconds limit);

// A picture file of any of the formats, decoded to 0xRRGGBB pixels.
std::optional<Picture> readPicture(const std::string& path);

// Whether `done` comes true within `limit`, asked again every few milliseconds.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));

// How many processes of that name run now; with a tag, only those whose environment
// has VEMO_TEST_TAG=tag, as everything a command started with it has.
int processCount(const std::string& name, const std::string& tag = {});
// The processes of that name (any name when empty), with the tag as above.
std::vector<pid_t> processesOf(const std::string& name, const std::string& tag = {});
// Their resident memory together, in KiB.
long residentKiB(const std::vector<pid_t>&);
// A tag of this process's own for VEMO_TEST_TAG.
std::string uniqueTag();

}  // namespace support
