#include "shot/ServiceFields.h"

#include <json-glib/json-glib.h>

#include <algorithm>

#include "shot/Messages.h"
#include "shot/ServiceRequest.h"

namespace shot {

Http httpFor(const std::string& status) {
    static const std::map<std::string, Http> kStatuses = {
        {"ok", {200, "ok"}},           {"incomplete", {200, "incomplete"}}, {"usage", {400, "bad-request"}},
        {"load-failed", {422, "load-failed"}}, {"timed-out", {504, "timed-out"}}, {"too-large", {413, "too-large"}},
        {"write-failed", {500, "internal"}},   {"interrupted", {503, "unavailable"}}, {"internal", {500, "internal"}},
        {"bad-request", {400, "bad-request"}}, {"no-element", {422, "no-element"}},
        {"script-failed", {422, "script-failed"}}};
    const auto it = kStatuses.find(status);
    return it == kStatuses.end() ? Http{500, "internal"} : it->second;
}

std::string json(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c < 0x20) out += format("\\u%04x", c);
        else out += static_cast<char>(c);
    }
    return out + "\"";
}

bool sameSecret(const std::string& a, const std::string& b) {
    // Compared in time that depends only on the lengths, never on where they differ.
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i)
        diff |= static_cast<unsigned char>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

bool fieldsOf(SoupServerMessage* msg, GHashTable* query, std::map<std::string, std::string>& fields,
                     std::string& why) {
    if (soup_server_message_get_method(msg) == SOUP_METHOD_GET) {
        GHashTableIter it;
        gpointer k, v;
        if (query) {
            g_hash_table_iter_init(&it, query);
            while (g_hash_table_iter_next(&it, &k, &v)) fields[static_cast<char*>(k)] = v ? static_cast<char*>(v) : "";
        }
        return true;
    }
    SoupMessageBody* body = soup_server_message_get_request_body(msg);
    GBytes* bytes = soup_message_body_flatten(body);
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    JsonParser* parser = json_parser_new();
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
            JsonNode* n = json_object_get_member(object, static_cast<char*>(m->data));
            if (!JSON_NODE_HOLDS_VALUE(n)) {
                why = format(tr("the field '%s' must be a string, a number or true or false"), static_cast<char*>(m->data));
                ok = false;
                break;
            }
            const GType t = json_node_get_value_type(n);
            std::string v = t == G_TYPE_STRING ? json_node_get_string(n)
                            : t == G_TYPE_BOOLEAN ? (json_node_get_boolean(n) ? "1" : "0")
                            : t == G_TYPE_INT64 ? std::to_string(json_node_get_int(n))
                                                : format("%g", json_node_get_double(n));
            fields[static_cast<char*>(m->data)] = v;
        }
        g_list_free(members);
    }
    if (e) g_error_free(e);
    g_object_unref(parser);
    g_bytes_unref(bytes);
    return ok;
}

}  // namespace shot
