// What the capture service reads from a request and says back: its fields, its token,
// the HTTP status of each outcome, errors as JSON.
#pragma once

#include <libsoup/soup.h>

#include <string>

#include "service/Request.h"
#include "shot/Report.h"
#include "shot/Worker.h"

namespace service {

struct Http {
    guint status;
    const char* name;  // the status word of the JSON answer
};

// How a task ended as an HTTP status.
Http httpFor(const shot::WorkerAnswer&);
// An error's JSON body: {"status": ..., "message": ...}, and {"report": ...} when the
// page's report is given.
std::string errorBody(const std::string& status, const std::string& message, const shot::PageReport* report = nullptr);
// Compared in time that depends only on the lengths, never on where they differ.
bool sameSecret(const std::string& a, const std::string& b);
// The fields of a query string: repeated names keep every value, in order.
Fields queryFields(const char* query);
// The fields of a JSON object: strings, numbers and true or false, or lists of them
// for repeatable options; false, with why, when the body is no such object.
bool jsonFields(const char* data, std::size_t size, Fields&, std::string& why);

}  // namespace service
