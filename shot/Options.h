// The capture command's options, read GNU style from its command line.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "capture/ImageFiles.h"
#include "engine/Shot.h"
#include "shot/Paper.h"

namespace shot {

// The command's exit statuses.
enum Exit {
    kExitOk = 0,           // every picture written
    kExitSomeFailed = 1,   // a batch in which some pages failed (the report says which)
    kExitUsage = 2,        // bad usage
    kExitLoadFailed = 3,   // the page could not be loaded
    kExitTimedOut = 4,     // the page did not answer in time
    kExitTooLarge = 5,     // the picture is too large for the format or for memory
    kExitWriteFailed = 6,  // the file could not be written
    kExitIncomplete = 7,   // written as it stood at the time limit, something still loading
    kExitNoElement = 8,    // the element or the part asked for is not on the page
    kExitScriptFailed = 9, // the caller's script failed
    kExitInterrupted = 130,
};

struct Options {
    int width = 1280, height = 1024;  // the browser's screen: the layout width and what 100vh means
    int scale = 1;
    int waitMs = 0;        // after the page has loaded
    int timeoutS = 30;     // for the whole page
    bool warmUp = true;
    bool animations = false;  // as they run, not at rest
    // Changes before the photo, and the part kept.
    std::vector<std::string> hide, remove;
    std::string style, script, waitFor, selector;
    std::optional<std::array<double, 4>> clip;
    bool viewport = false, expand = true;
    // Who is asking, and how the page looks.
    std::string userAgent;
    std::vector<std::string> headers;     // "Name: value"
    std::vector<std::string> cookies;     // "name=value"
    std::vector<engine::Cookie> jar;      // from a Netscape cookies.txt (--cookies)
    std::string user;                     // "name:password"
    bool dark = false, transparent = false;
    // Which addresses the page and what it loads may reach.
    bool denyPrivate = false;             // public ones only
    std::vector<std::string> allowHosts;  // HOST or HOST:PORT, reached wherever they are
    bool qualityGiven = false;            // a lossy WebP
    bool quiet = false;
    int quality = 90;
    std::string report;    // JSON Lines, or empty
    bool resume = false;   // a batch goes on from its report: pages written and still there are skipped
    bool index = false;    // a batch writes index.html into its folder: a contact sheet of its pages
    // One page: its address and file; or a batch: the list and the folder.
    std::string address, out;
    std::string list, outDir;
    capture::Format batchFormat = capture::Format::Png;
    // A PDF's paper (empty: the locale's), turned, its margins (empty: 1 cm, none for one
    // page) and whether backgrounds are printed.
    std::optional<Paper> paper;
    bool landscape = false;
    std::optional<std::array<double, 4>> margins;
    bool backgrounds = true;
    bool help = false, version = false;
    // The service.
    bool serve = false;
    std::string listen = "127.0.0.1:8178";
    int jobs = 0;          // 0: one per core
    int queue = 64;
    std::string tokenFile;
    bool allowFile = false;
    bool worker = false;    // a worker of the service or of a batch of several engines
    // How long the engine kept for the next one-page command stays after its last page,
    // in seconds; 0: the page is photographed in this process. -1: not given.
    int keepEngineS = -1;
    std::string warmEngine;  // the socket a kept engine serves on (that engine's own option)
    bool verbose = false;    // says where the page is photographed
    int maxTimeoutS = 60;   // the longest time limit a caller of the service may ask for
    int maxMemoryMB = 2048; // what one engine's page may take before it is stopped
    bool allowPrivate = false;  // the service's pages may reach private addresses, wherever it listens
    int maxConnections = 256;  // the service's connections at once
    int clientTimeoutS = 15;   // for a client to send its request; twice that for an idle connection
    std::string service;    // a batch sent to this capture service (http://HOST:PORT)
    // Every option as it was given, by its long name: what a service is sent.
    std::vector<std::pair<std::string, std::string>> given;
};

struct Parsed {
    std::optional<Options> options;
    std::string error;  // why the command line is wrong, when it is
};

// `readFiles`: whether --style=@FILE and --script=@FILE read the file (not for a
// service's callers).
Parsed parseOptions(const std::vector<std::string>& args, bool readFiles = true);

struct OptionName {
    std::string name;     // without its dashes
    bool takesValue = false;
    bool repeatable = false;
};
// Every long option the command knows.
std::vector<OptionName> optionTable();

// The cookies of a cookies.txt file as curl and wget write it; nothing when it is not one.
std::optional<std::vector<engine::Cookie>> readCookieFile(std::istream&);

// The text of --help.
std::string usageText(const std::string& program);

}  // namespace shot
