#include "shot/Report.h"

#include <climits>
#include <memory>

#include "shot/RequestJson.h"

namespace shot {

namespace {

constexpr Status kStatuses[] = {Status::Ok,          Status::Incomplete, Status::LoadFailed, Status::TimedOut,
                                Status::TooLarge,    Status::WriteFailed, Status::Interrupted, Status::BadRequest,
                                Status::NoElement,   Status::ScriptFailed};

// Every field of a report, named once: the writer and the reader both walk it. The
// address and the status are what make a line a page's report.
template <class R, class V>
void visitReport(R& r, V& v) {
    v("address", r.address, true);
    v("file", r.file);
    v("width", r.width);
    v("height", r.height);
    v("pages", r.pages);
    v("milliseconds", r.milliseconds);
    v("status", r.status, true);
    v("message", r.message);
    v("finalAddress", r.finalAddress);
    v("title", r.title);
    v("httpStatus", r.httpStatus);
    v("stillLoading", r.stillLoading);
    v("firstMissing", r.firstMissing);
    v("refused", r.refused);
    v("firstRefused", r.firstRefused);
    v("stillGrowing", r.stillGrowing);
}

// Text as JSON can hold it: a page's title or an address from a list may be any bytes.
std::string validText(const std::string& s) {
    if (g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) return s;
    std::unique_ptr<gchar, decltype(&g_free)> valid(g_utf8_make_valid(s.data(), static_cast<gssize>(s.size())), g_free);
    return valid.get();
}

struct Writer {
    JsonBuilder* b;
    void name(const char* n) { json_builder_set_member_name(b, n); }
    void operator()(const char* n, const std::string& s, bool = false) {
        name(n);
        json_builder_add_string_value(b, validText(s).c_str());
    }
    void operator()(const char* n, long i, bool = false) { name(n), json_builder_add_int_value(b, i); }
    void operator()(const char* n, int i, bool = false) { name(n), json_builder_add_int_value(b, i); }
    void operator()(const char* n, bool x, bool = false) { name(n), json_builder_add_boolean_value(b, x); }
    void operator()(const char* n, Status s, bool = false) { name(n), json_builder_add_string_value(b, statusName(s)); }
};

// Fields missing are left as they are (reports of older versions have fewer); a field
// of the wrong kind, or a required one missing, makes the line no report.
struct Reader {
    JsonObject* o;
    bool good = true;
    JsonNode* member(const char* n, GType type, bool required) {
        JsonNode* m = json_object_get_member(o, n);
        if (!m) {
            good = good && !required;
            return nullptr;
        }
        if (!JSON_NODE_HOLDS_VALUE(m) || json_node_get_value_type(m) != type) {
            good = false;
            return nullptr;
        }
        return m;
    }
    void operator()(const char* n, std::string& s, bool required = false) {
        if (JsonNode* m = member(n, G_TYPE_STRING, required)) s = json_node_get_string(m);
    }
    void operator()(const char* n, long& i, bool required = false) {
        if (JsonNode* m = member(n, G_TYPE_INT64, required)) i = static_cast<long>(json_node_get_int(m));
    }
    void operator()(const char* n, int& i, bool required = false) {
        long wide = i;
        (*this)(n, wide, required);
        if (wide < INT_MIN || wide > INT_MAX) good = false;
        i = static_cast<int>(wide);
    }
    void operator()(const char* n, bool& x, bool required = false) {
        if (JsonNode* m = member(n, G_TYPE_BOOLEAN, required)) x = json_node_get_boolean(m);
    }
    void operator()(const char* n, Status& s, bool required = false) {
        JsonNode* m = member(n, G_TYPE_STRING, required);
        if (!m) return;
        if (const auto known = statusForName(json_node_get_string(m))) s = *known;
        else good = false;
    }
};

}  // namespace

const char* statusName(Status s) {
    switch (s) {
        case Status::Ok: return "ok";
        case Status::Incomplete: return "incomplete";
        case Status::BadRequest: return "bad-request";
        case Status::NoElement: return "no-element";
        case Status::ScriptFailed: return "script-failed";
        case Status::LoadFailed: return "load-failed";
        case Status::TimedOut: return "timed-out";
        case Status::TooLarge: return "too-large";
        case Status::WriteFailed: return "write-failed";
        case Status::Interrupted: return "interrupted";
    }
    return "";
}

std::optional<Status> statusForName(const std::string& name) {
    for (Status s : kStatuses)
        if (name == statusName(s)) return s;
    return std::nullopt;
}

void takeFacts(PageReport& p, const engine::ShotResult& r) {
    p.finalAddress = r.finalAddress;
    p.title = r.title;
    p.httpStatus = r.httpStatus;
    p.stillLoading = r.stillLoading;
    p.firstMissing = r.firstMissing;
    p.stillGrowing = r.stillGrowing;
    p.refused = r.refused;
    p.firstRefused = r.firstRefused;
}

JsonNode* reportToJson(const PageReport& report) {
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    Writer w{b};
    visitReport(report, w);
    json_builder_end_object(b);
    JsonNode* root = json_builder_get_root(b);
    g_object_unref(b);
    return root;
}

std::optional<PageReport> reportFromJson(JsonNode* node) {
    if (!node || !JSON_NODE_HOLDS_OBJECT(node)) return std::nullopt;
    PageReport report;
    Reader r{json_node_get_object(node)};
    visitReport(report, r);
    if (!r.good) return std::nullopt;
    return report;
}

std::string reportJson(const PageReport& report) {
    JsonNode* root = reportToJson(report);
    std::string line = jsonText(root);
    json_node_unref(root);
    return line;
}

std::optional<PageReport> parseReport(const std::string& line) {
    JsonParser* parser = json_parser_new();
    std::optional<PageReport> report;
    if (json_parser_load_from_data(parser, line.data(), static_cast<gssize>(line.size()), nullptr))
        report = reportFromJson(json_parser_get_root(parser));
    g_object_unref(parser);
    return report;
}

}  // namespace shot
