// What became of one page, as the report says it: one JSON object a page, written and
// read by json-glib. The report of a batch is one such object a line (JSON Lines); a
// resumed batch reads it back to know which pages are done.
#pragma once

#include <json-glib/json-glib.h>

#include <optional>
#include <string>

#include "engine/Shot.h"

namespace shot {

enum class Status { Ok, Incomplete, LoadFailed, TimedOut, TooLarge, WriteFailed, Interrupted, BadRequest, NoElement,
                    ScriptFailed };
const char* statusName(Status);  // as the report says it
std::optional<Status> statusForName(const std::string&);
// Whether a page of that status has its picture written.
inline bool written(Status s) { return s == Status::Ok || s == Status::Incomplete; }

struct PageReport {
    std::string address;       // as the list gave it
    std::string file;          // the picture written, or empty
    int width = 0, height = 0; // the picture's
    int pages = 0;             // a PDF's
    long milliseconds = 0;
    Status status = Status::Ok;
    std::string message;       // why it failed, or what the picture lacks
    std::string finalAddress;  // where the page landed, after redirects and moves of its own
    std::string title;
    int httpStatus = 0;        // of the page's main document; 0 when none came (a file, a failure)
    int stillLoading = 0;      // images still loading when it was photographed
    std::string firstMissing;  // the first of them
    int refused = 0;           // requests the network rules refused
    std::string firstRefused;  // the first of them
    bool stillGrowing = false; // the page kept growing as it was scrolled
};

// The page's own facts from what the engine made of it: where it landed, its title,
// its HTTP status and what it lacked.
void takeFacts(PageReport&, const engine::ShotResult&);

// The report as a JSON object (the caller owns the node), and back; nothing when the
// node is not a page's report.
JsonNode* reportToJson(const PageReport&);
std::optional<PageReport> reportFromJson(JsonNode*);

// The same as one line of JSON text (without its line end), and back.
std::string reportJson(const PageReport&);
std::optional<PageReport> parseReport(const std::string& line);

}  // namespace shot
