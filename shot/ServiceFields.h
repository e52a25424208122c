// What the capture service reads from a request and says back: its fields, its token,
// the HTTP status of each outcome, text as JSON.
#pragma once

#include <libsoup/soup.h>

#include <map>
#include <string>

namespace shot {

struct Http {
    guint status;
    const char* name;  // the status word of the JSON answer
};

// The command's outcomes (as the report names them) as HTTP statuses.
Http httpFor(const std::string& status);
// A JSON string of `s`.
std::string json(const std::string& s);
// Compared in time that depends only on the lengths, never on where they differ.
bool sameSecret(const std::string& a, const std::string& b);
// The request's fields: from the query of a GET, or a POST's JSON object of strings,
// numbers and truth values; false, with why, when the body is no such object.
bool fieldsOf(SoupServerMessage*, GHashTable* query, std::map<std::string, std::string>& fields, std::string& why);

}  // namespace shot
