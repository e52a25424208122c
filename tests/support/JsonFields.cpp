#include "tests/support/JsonFields.h"

#include <json-glib/json-glib.h>

namespace support {

std::map<std::string, std::string> jsonFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    JsonParser* parser = json_parser_new();
    JsonNode* root = json_parser_load_from_data(parser, text.c_str(), static_cast<gssize>(text.size()), nullptr)
                         ? json_parser_get_root(parser)
                         : nullptr;
    if (root && JSON_NODE_HOLDS_OBJECT(root)) {
        JsonObject* o = json_node_get_object(root);
        GList* names = json_object_get_members(o);
        for (GList* n = names; n; n = n->next) {
            JsonNode* v = json_object_get_member(o, static_cast<const char*>(n->data));
            const GType t = JSON_NODE_HOLDS_VALUE(v) ? json_node_get_value_type(v) : G_TYPE_NONE;
            fields[static_cast<const char*>(n->data)] = t == G_TYPE_STRING    ? json_node_get_string(v)
                                                        : t == G_TYPE_INT64   ? std::to_string(json_node_get_int(v))
                                                        : t == G_TYPE_BOOLEAN ? (json_node_get_boolean(v) ? "true" : "false")
                                                                              : "?";
        }
        g_list_free(names);
    }
    g_object_unref(parser);
    return fields;
}

}  // namespace support
