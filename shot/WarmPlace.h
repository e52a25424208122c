// Where a one-page command finds the engine kept warm for it: a Unix socket in a folder
// of the user's own, named after everything that shapes the engine's pictures and
// requests, so that an engine only ever serves commands that would have made the same
// engine themselves.
#pragma once

#include <string>
#include <vector>

namespace shot {

// The folder the sockets live in: "vemo-shot" in $XDG_RUNTIME_DIR, or else
// /tmp/vemo-shot-UID. Made when missing (mode 0700); refused unless it is a folder
// (not a link) of this user's that nobody else may enter. Empty, with why, when it
// cannot be made safe.
std::string warmFolder(std::string& why);

// Whether a folder is one only this user may use: `why` says what is wrong with it.
bool privateFolder(const std::string& path, std::string& why);

// A program file as it is now: a rebuilt one, or another copy, is another.
std::string programIdentity(const std::string& path);

// What shapes an engine: this build (the program file itself), the scale it paints at,
// its page memory limit, and those of the environment's variables that reach its
// display, language, time zone, proxies, fonts, sandbox and libraries.
std::string engineKey(const std::vector<std::string>& environment, int scale, int maxMemoryMB);

// Whether an environment variable ("NAME=value") shapes an engine.
bool shapesEngine(const std::string& variable);

// The socket's file name for a key: short and of safe characters.
std::string socketName(const std::string& key);

// The lock every command takes before it starts an engine for this socket, and the
// engine before it leaves; its process id beside it, while it listens.
std::string lockPathFor(const std::string& socket);
std::string pidPathFor(const std::string& socket);

// How long a kept engine stays after its last page: --keep-engine when given, else
// VEMO_KEEP_ENGINE when it is a number of seconds, else 30.
int keepSeconds(int given, const char* fromEnvironment);

}  // namespace shot
