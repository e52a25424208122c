#include "shot/RequestJson.h"

#include <cmath>
#include <memory>

namespace shot {

namespace {

using engine::Cookie;
using engine::ShotRequest;

// Every field of a request, named once: the writer and the reader both walk it.
template <class V>
void visitRequest(ShotRequest& r, V& v) {
    v("address", r.address);
    v("width", r.width);
    v("height", r.height);
    v("scale", r.scale);
    v("waitMs", r.waitMs);
    v("timeoutMs", r.timeoutMs);
    v("warmUp", r.warmUp);
    v("animations", r.animations);
    v("waitFor", r.adjust.waitFor);
    v("hide", r.adjust.hide);
    v("remove", r.adjust.remove);
    v("style", r.adjust.style);
    v("script", r.adjust.script);
    v("expand", r.adjust.expand);
    v("selector", r.adjust.selector);
    v("clip", r.adjust.clip);
    v("viewport", r.adjust.viewport);
    v("dark", r.dark);
    v("transparent", r.transparent);
    v("userAgent", r.identity.userAgent);
    v("headers", r.identity.headers);
    v("cookies", r.identity.cookies);
    v("user", r.identity.user);
    v("password", r.identity.password);
    v("denyPrivate", r.network.denyPrivate);
    v("allowHosts", r.network.allowHosts);
    v("format", r.picture.format);
    v("quality", r.picture.quality);
    v("lossy", r.picture.lossy);
    v("paperWidth", r.print.width);
    v("paperHeight", r.print.height);
    v("margins", r.print.margins);
    v("backgrounds", r.print.backgrounds);
}

template <class V>
void visitCookie(Cookie& c, V& v) {
    v("name", c.name);
    v("value", c.value);
    v("domain", c.domain);
    v("path", c.path);
    v("secure", c.secure);
    v("httpOnly", c.httpOnly);
    v("expires", c.expires);
}

struct RequestWriter {
    JsonBuilder* b;
    void name(const char* n) { json_builder_set_member_name(b, n); }
    void operator()(const char* n, const std::string& s) { name(n), json_builder_add_string_value(b, s.c_str()); }
    void operator()(const char* n, int i) { name(n), json_builder_add_int_value(b, i); }
    void operator()(const char* n, long long i) { name(n), json_builder_add_int_value(b, i); }
    void operator()(const char* n, bool x) { name(n), json_builder_add_boolean_value(b, x); }
    void operator()(const char* n, capture::Format f) { name(n), json_builder_add_string_value(b, capture::formatName(f)); }
    void operator()(const char* n, double d) { name(n), json_builder_add_double_value(b, d); }
    void operator()(const char* n, const std::array<double, 4>& a) { (*this)(n, std::optional<std::array<double, 4>>(a)); }
    void operator()(const char* n, const std::optional<std::array<double, 4>>& a) {
        name(n);
        if (!a) {
            json_builder_add_null_value(b);
            return;
        }
        json_builder_begin_array(b);
        for (double d : *a) json_builder_add_double_value(b, d);
        json_builder_end_array(b);
    }
    void operator()(const char* n, const std::vector<std::pair<std::string, std::string>>& pairs) {
        name(n);
        json_builder_begin_array(b);
        for (const auto& [k, value] : pairs) {
            json_builder_begin_array(b);
            json_builder_add_string_value(b, k.c_str());
            json_builder_add_string_value(b, value.c_str());
            json_builder_end_array(b);
        }
        json_builder_end_array(b);
    }
    void operator()(const char* n, const std::vector<std::string>& list) {
        name(n);
        json_builder_begin_array(b);
        for (const auto& item : list) json_builder_add_string_value(b, item.c_str());
        json_builder_end_array(b);
    }
    void operator()(const char* n, const std::vector<Cookie>& cookies) {
        name(n);
        json_builder_begin_array(b);
        for (auto c : cookies) {
            json_builder_begin_object(b);
            visitCookie(c, *this);
            json_builder_end_object(b);
        }
        json_builder_end_array(b);
    }
};

struct RequestReader {
    JsonObject* o;
    std::string& why;
    JsonNode* member(const char* n, GType type) {
        JsonNode* m = why.empty() ? json_object_get_member(o, n) : nullptr;
        if (!m && why.empty()) why = std::string("no field '") + n + "'";
        if (m && (!JSON_NODE_HOLDS_VALUE(m) || json_node_get_value_type(m) != type)) {
            why = std::string("the field '") + n + "' is of the wrong kind";
            return nullptr;
        }
        return m;
    }
    void operator()(const char* n, std::string& s) {
        if (JsonNode* m = member(n, G_TYPE_STRING)) s = json_node_get_string(m);
    }
    void operator()(const char* n, long long& i) {
        if (JsonNode* m = member(n, G_TYPE_INT64)) i = json_node_get_int(m);
    }
    void operator()(const char* n, int& i) {
        long long wide = i;
        (*this)(n, wide);
        if (wide < INT32_MIN || wide > INT32_MAX) why = std::string("the field '") + n + "' is out of range";
        i = static_cast<int>(wide);
    }
    void operator()(const char* n, bool& x) {
        if (JsonNode* m = member(n, G_TYPE_BOOLEAN)) x = json_node_get_boolean(m);
    }
    void operator()(const char* n, capture::Format& f) {
        std::string name;
        (*this)(n, name);
        if (const auto known = capture::formatForName("x." + name)) f = *known;
        else if (why.empty()) why = std::string("the field '") + n + "' names no format";
    }
    JsonArray* array(const char* n) {
        JsonNode* m = why.empty() ? json_object_get_member(o, n) : nullptr;
        if (m && JSON_NODE_HOLDS_ARRAY(m)) return json_node_get_array(m);
        if (why.empty()) why = std::string("the field '") + n + "' must be a list";
        return nullptr;
    }
    void operator()(const char* n, std::optional<std::array<double, 4>>& a) {
        JsonNode* m = why.empty() ? json_object_get_member(o, n) : nullptr;
        if (m && JSON_NODE_HOLDS_NULL(m)) {
            a.reset();
            return;
        }
        JsonArray* list = array(n);
        if (!list) return;
        if (json_array_get_length(list) != 4) why = std::string("the field '") + n + "' takes four numbers";
        std::array<double, 4> out{};
        for (guint i = 0; i < 4 && why.empty(); ++i) {
            JsonNode* e = json_array_get_element(list, i);
            if (!JSON_NODE_HOLDS_VALUE(e)) why = std::string("the field '") + n + "' takes four numbers";
            else out[i] = json_node_get_double(e);
        }
        if (why.empty()) a = out;
    }
    void operator()(const char* n, double& d) {
        JsonNode* m = why.empty() ? json_object_get_member(o, n) : nullptr;
        if (m && JSON_NODE_HOLDS_VALUE(m) &&
            (json_node_get_value_type(m) == G_TYPE_DOUBLE || json_node_get_value_type(m) == G_TYPE_INT64))
            d = json_node_get_double(m);
        else if (why.empty())
            why = std::string("the field '") + n + "' takes a number";
    }
    void operator()(const char* n, std::array<double, 4>& a) {
        std::optional<std::array<double, 4>> read;
        (*this)(n, read);
        if (read) a = *read;
        else if (why.empty()) why = std::string("the field '") + n + "' takes four numbers";
    }
    void operator()(const char* n, std::vector<std::pair<std::string, std::string>>& pairs) {
        JsonArray* list = array(n);
        for (guint i = 0; list && why.empty() && i < json_array_get_length(list); ++i) {
            JsonArray* pair = JSON_NODE_HOLDS_ARRAY(json_array_get_element(list, i)) ? json_array_get_array_element(list, i) : nullptr;
            if (!pair || json_array_get_length(pair) != 2 || !json_array_get_string_element(pair, 0) ||
                !json_array_get_string_element(pair, 1)) {
                why = std::string("the field '") + n + "' takes pairs of strings";
                return;
            }
            pairs.emplace_back(json_array_get_string_element(pair, 0), json_array_get_string_element(pair, 1));
        }
    }
    void operator()(const char* n, std::vector<std::string>& list) {
        JsonArray* items = array(n);
        for (guint i = 0; items && why.empty() && i < json_array_get_length(items); ++i) {
            const char* item = JSON_NODE_HOLDS_VALUE(json_array_get_element(items, i)) ? json_array_get_string_element(items, i) : nullptr;
            if (!item) {
                why = std::string("the field '") + n + "' takes strings";
                return;
            }
            list.emplace_back(item);
        }
    }
    void operator()(const char* n, std::vector<Cookie>& cookies) {
        JsonArray* list = array(n);
        for (guint i = 0; list && why.empty() && i < json_array_get_length(list); ++i) {
            JsonNode* e = json_array_get_element(list, i);
            if (!JSON_NODE_HOLDS_OBJECT(e)) {
                why = std::string("the field '") + n + "' takes objects";
                return;
            }
            Cookie c;
            RequestReader inner{json_node_get_object(e), why};
            visitCookie(c, inner);
            cookies.push_back(c);
        }
    }
};

}  // namespace

JsonNode* requestToJson(const ShotRequest& request) {
    auto copy = request;
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    RequestWriter w{b};
    visitRequest(copy, w);
    json_builder_end_object(b);
    JsonNode* root = json_builder_get_root(b);
    g_object_unref(b);
    return root;
}

std::optional<ShotRequest> requestFromJson(JsonNode* node, std::string& why) {
    why.clear();
    if (!node || !JSON_NODE_HOLDS_OBJECT(node)) {
        why = "a request is a JSON object";
        return std::nullopt;
    }
    ShotRequest r;
    RequestReader reader{json_node_get_object(node), why};
    visitRequest(r, reader);
    if (!why.empty()) return std::nullopt;
    return r;
}

std::string jsonText(JsonNode* node) {
    JsonGenerator* g = json_generator_new();
    json_generator_set_root(g, node);
    gchar* text = json_generator_to_data(g, nullptr);
    std::string out = text ? text : "";
    g_free(text);
    g_object_unref(g);
    return out;
}

std::string builtText(JsonBuilder* b) {
    JsonNode* root = json_builder_get_root(b);
    std::string out = jsonText(root);
    json_node_unref(root);
    g_object_unref(b);
    return out;
}

JsonNode* parseJson(const std::string& text) {
    JsonParser* p = json_parser_new_immutable();
    JsonNode* root = nullptr;
    if (json_parser_load_from_data(p, text.data(), static_cast<gssize>(text.size()), nullptr) && json_parser_get_root(p))
        root = json_node_copy(json_parser_get_root(p));
    g_object_unref(p);
    return root;
}

}  // namespace shot
