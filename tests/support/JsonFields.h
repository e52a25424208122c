// A JSON object read back by json-glib, its fields as text, for tests that check what
// the programs wrote.
#pragma once

#include <map>
#include <string>

namespace support {

// The members of one JSON object: strings as they are, numbers and booleans as JSON
// writes them, anything else as "?". Empty when the text is no JSON object.
std::map<std::string, std::string> jsonFields(const std::string& text);

}  // namespace support
