#include "service/Fields.h"

#include <json-glib/json-glib.h>

#include <algorithm>
#include <charconv>
#include <map>

#include "shot/Messages.h"
#include "shot/RequestJson.h"

namespace service {

using shot::format;
using shot::tr;

Http httpFor(const shot::WorkerAnswer& a) {
    using shot::Status;
    switch (a.end) {
        case shot::TaskEnd::Unavailable: return {503, "unavailable"};
        case shot::TaskEnd::EngineLost: return {500, "internal"};
        case shot::TaskEnd::Page: break;
    }
    switch (a.report.status) {
        case Status::Ok: return {200, "ok"};
        case Status::Incomplete: return {200, "incomplete"};
        case Status::BadRequest: return {400, "bad-request"};
        case Status::LoadFailed: return {422, "load-failed"};
        case Status::NoElement: return {422, "no-element"};
        case Status::ScriptFailed: return {422, "script-failed"};
        case Status::TimedOut: return {504, "timed-out"};
        case Status::TooLarge: return {413, "too-large"};
        case Status::WriteFailed: return {500, "internal"};
        case Status::Interrupted: return {503, "unavailable"};  // the service stopping, or an engine told to
    }
    return {500, "internal"};
}

std::string errorBody(const std::string& status, const std::string& message, const shot::PageReport* report) {
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "status");
    json_builder_add_string_value(b, status.c_str());
    json_builder_set_member_name(b, "message");
    json_builder_add_string_value(b, message.c_str());
    if (report) {
        json_builder_set_member_name(b, "report");
        json_builder_add_value(b, shot::reportToJson(*report));
    }
    json_builder_end_object(b);
    return shot::builtText(b);
}

bool sameSecret(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i)
        diff |= static_cast<unsigned char>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

Fields queryFields(const char* query) {
    Fields fields;
    if (!query) return fields;
    auto decode = [](std::string s) {
        std::replace(s.begin(), s.end(), '+', ' ');
        gchar* d = g_uri_unescape_string(s.c_str(), nullptr);
        std::string out = d ? d : "";
        g_free(d);
        return out;
    };
    const std::string q = query;
    for (std::size_t at = 0; at <= q.size();) {
        const auto amp = std::min(q.find('&', at), q.size());
        const std::string pair = q.substr(at, amp - at);
        at = amp + 1;
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        fields[decode(pair.substr(0, eq))].push_back(eq == std::string::npos ? "" : decode(pair.substr(eq + 1)));
    }
    return fields;
}

namespace {

// A JSON value as a field's text; false when it is no string, number or truth value.
bool valueText(JsonNode* n, std::string& out) {
    if (!JSON_NODE_HOLDS_VALUE(n)) return false;
    const GType t = json_node_get_value_type(n);
    if (t == G_TYPE_STRING) {
        out = json_node_get_string(n);
    } else if (t == G_TYPE_BOOLEAN) {
        out = json_node_get_boolean(n) ? "true" : "false";
    } else if (t == G_TYPE_INT64) {
        out = std::to_string(json_node_get_int(n));
    } else {
        // Written the same under every locale.
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, json_node_get_double(n));
        out.assign(buf, r.ptr);
    }
    return true;
}

}  // namespace

bool jsonFields(const char* data, std::size_t size, Fields& fields, std::string& why) {
    JsonParser* parser = json_parser_new_immutable();
    GError* e = nullptr;
    bool ok = size <= kLongestRequest && json_parser_load_from_data(parser, data ? data : "", static_cast<gssize>(size), &e);
    JsonNode* root = ok ? json_parser_get_root(parser) : nullptr;
    if (!root || !JSON_NODE_HOLDS_OBJECT(root)) {
        why = e ? e->message : tr("the body must be a JSON object of the request's fields");
        ok = false;
    } else {
        JsonObject* object = json_node_get_object(root);
        GList* members = json_object_get_members(object);
        for (GList* m = members; m && ok; m = m->next) {
            const char* name = static_cast<char*>(m->data);
            JsonNode* n = json_object_get_member(object, name);
            auto& values = fields[name];
            std::string v;
            if (JSON_NODE_HOLDS_ARRAY(n)) {
                JsonArray* list = json_node_get_array(n);
                for (guint i = 0; ok && i < json_array_get_length(list); ++i) {
                    ok = valueText(json_array_get_element(list, i), v);
                    values.push_back(v);
                }
                // A rectangle may be given as its four numbers.
                if (ok && std::string(name) == "clip" && values.size() == 4)
                    values = {values[0] + "," + values[1] + "," + values[2] + "," + values[3]};
            } else {
                ok = valueText(n, v);
                values.push_back(v);
            }
            if (!ok) why = format(tr("the field '%s' must be a string, a number, true or false, or a list of them"), name);
        }
        g_list_free(members);
    }
    if (e) g_error_free(e);
    g_object_unref(parser);
    return ok;
}

}  // namespace service
