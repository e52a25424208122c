#include "shot/Worker.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "shot/Messages.h"
#include "shot/RequestJson.h"

namespace shot {

namespace {

struct Node {
    JsonNode* node;
    explicit Node(JsonNode* n) : node(n) {}
    ~Node() {
        if (node) json_node_unref(node);
    }
    JsonObject* object() const { return node && JSON_NODE_HOLDS_OBJECT(node) ? json_node_get_object(node) : nullptr; }
};

std::string text(JsonObject* o, const char* name) {
    const char* s = json_object_has_member(o, name) ? json_object_get_string_member_with_default(o, name, "") : "";
    return s ? s : "";
}

}  // namespace

std::string taskLine(const WorkerTask& t) {
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "id");
    json_builder_add_int_value(b, static_cast<gint64>(t.id));
    json_builder_set_member_name(b, "path");
    json_builder_add_string_value(b, t.path.c_str());
    json_builder_set_member_name(b, "thumbnail");
    json_builder_add_boolean_value(b, t.thumbnail);
    json_builder_set_member_name(b, "fresh");
    json_builder_add_boolean_value(b, t.fresh);
    json_builder_set_member_name(b, "request");
    json_builder_add_value(b, requestToJson(t.request));
    json_builder_end_object(b);
    return builtText(b) + "\n";
}

std::optional<WorkerTask> parseTask(const std::string& line, std::string& why) {
    Node root(parseJson(line));
    JsonObject* o = root.object();
    if (!o || !json_object_has_member(o, "id") || !json_object_has_member(o, "request")) {
        why = "a task is a JSON object with an id and a request";
        return std::nullopt;
    }
    WorkerTask t;
    t.id = static_cast<unsigned long>(json_object_get_int_member(o, "id"));
    t.path = text(o, "path");
    t.thumbnail = json_object_get_boolean_member_with_default(o, "thumbnail", FALSE);
    t.fresh = json_object_get_boolean_member_with_default(o, "fresh", TRUE);
    const auto request = requestFromJson(json_object_get_member(o, "request"), why);
    if (!request) return std::nullopt;
    t.request = *request;
    return t;
}

std::string answerLine(const WorkerAnswer& a) {
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "id");
    json_builder_add_int_value(b, static_cast<gint64>(a.id));
    json_builder_set_member_name(b, "status");
    json_builder_add_string_value(b, statusName(a.report.status));
    json_builder_set_member_name(b, "report");
    json_builder_add_value(b, reportToJson(a.report));
    json_builder_set_member_name(b, "last");
    json_builder_add_boolean_value(b, a.last);
    json_builder_set_member_name(b, "lost");
    json_builder_add_boolean_value(b, a.lost);
    json_builder_end_object(b);
    return builtText(b) + "\n";
}

std::optional<WorkerAnswer> parseAnswer(const std::string& line) {
    Node root(parseJson(line));
    JsonObject* o = root.object();
    if (!o || !json_object_has_member(o, "id") || !json_object_has_member(o, "status")) return std::nullopt;
    WorkerAnswer a;
    a.id = static_cast<unsigned long>(json_object_get_int_member(o, "id"));
    // A page's status the pool does not know is no answer.
    const auto status = statusForName(text(o, "status"));
    if (!status) return std::nullopt;
    a.last = json_object_get_boolean_member_with_default(o, "last", FALSE);
    a.lost = json_object_get_boolean_member_with_default(o, "lost", FALSE);
    if (json_object_has_member(o, "report")) {
        const auto report = reportFromJson(json_object_get_member(o, "report"));
        if (!report) return std::nullopt;
        a.report = *report;
    }
    a.report.status = *status;
    return a;
}

bool isReadyLine(const std::string& line) {
    Node root(parseJson(line));
    JsonObject* o = root.object();
    return o && json_object_get_boolean_member_with_default(o, "ready", FALSE);
}

}  // namespace shot
