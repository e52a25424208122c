// A capture request as JSON, as it travels to a worker process: written and read by
// json-glib, every field of the request named once (see RequestJson.cpp).
#pragma once

#include <json-glib/json-glib.h>

#include <optional>
#include <string>

#include "engine/Shot.h"

namespace shot {

// The request as a JSON object; the caller owns the node.
JsonNode* requestToJson(const engine::ShotRequest&);
// The request a JSON object describes; nothing, with why, when it is not one.
std::optional<engine::ShotRequest> requestFromJson(JsonNode*, std::string& why);

// A JSON node as one line of text, and a line read back into a node (nullptr when it is
// not JSON); the caller owns what it gets.
std::string jsonText(JsonNode*);
// The text of what a builder built; the builder is let go.
std::string builtText(JsonBuilder*);
JsonNode* parseJson(const std::string& text);

}  // namespace shot
