#include "capture/ContentLexer.h"

namespace capture {

namespace {

bool space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }

bool delimiter(char c) {
    switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}': case '/': case '%': return true;
    default: return false;
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

ContentLexer::Token ContentLexer::next() {
    for (;;) {
        while (at_ < s_.size() && space(s_[at_])) ++at_;
        if (at_ >= s_.size()) return End;
        if (s_[at_] != '%') break;
        while (at_ < s_.size() && s_[at_] != '\n' && s_[at_] != '\r') ++at_;
    }
    const char c = s_[at_];
    switch (c) {
    case '(': ++at_; return literal();
    case '/': ++at_; return name();
    case '[': ++at_; return Open;
    case ']': ++at_; return Close;
    case '{': case '}': ++at_; return Other;
    case '<':
        if (at_ + 1 < s_.size() && s_[at_ + 1] == '<') {
            at_ += 2;
            return Other;
        }
        ++at_;
        return hex();
    case '>':
        if (at_ + 1 < s_.size() && s_[at_ + 1] == '>') {
            at_ += 2;
            return Other;
        }
        return Bad;
    case ')': return Bad;
    default: break;
    }
    const std::size_t from = at_;
    while (at_ < s_.size() && !space(s_[at_]) && !delimiter(s_[at_])) ++at_;
    word_ = s_.substr(from, at_ - from);
    if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || word_ == "true" || word_ == "false" ||
        word_ == "null")
        return Other;
    return Operator;
}

ContentLexer::Token ContentLexer::literal() {
    value_.clear();
    int open = 1;
    while (at_ < s_.size()) {
        char c = s_[at_++];
        if (c == '(') {
            ++open;
        } else if (c == ')') {
            if (--open == 0) return String;
        } else if (c == '\r') {
            // An end of line in a string reads as one line feed.
            if (at_ < s_.size() && s_[at_] == '\n') ++at_;
            c = '\n';
        } else if (c == '\\') {
            if (at_ >= s_.size()) return Bad;
            c = s_[at_++];
            switch (c) {
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 't': c = '\t'; break;
            case 'b': c = '\b'; break;
            case 'f': c = '\f'; break;
            case '\r':
                if (at_ < s_.size() && s_[at_] == '\n') ++at_;
                continue;
            case '\n': continue;
            default:
                if (c >= '0' && c <= '7') {
                    int code = c - '0';
                    for (int i = 0; i < 2 && at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '7'; ++i)
                        code = code * 8 + (s_[at_++] - '0');
                    c = static_cast<char>(code & 0xFF);
                }
            }
        }
        value_ += c;
    }
    return Bad;
}

ContentLexer::Token ContentLexer::hex() {
    value_.clear();
    int high = -1;
    while (at_ < s_.size()) {
        const char c = s_[at_++];
        if (c == '>') {
            if (high >= 0) value_ += static_cast<char>(high << 4);
            return String;
        }
        if (space(c)) continue;
        const int d = hexDigit(c);
        if (d < 0) return Bad;
        if (high < 0) {
            high = d;
        } else {
            value_ += static_cast<char>(high << 4 | d);
            high = -1;
        }
    }
    return Bad;
}

ContentLexer::Token ContentLexer::name() {
    value_.assign(1, '/');
    while (at_ < s_.size() && !space(s_[at_]) && !delimiter(s_[at_])) {
        const char c = s_[at_++];
        if (c == '#' && at_ + 1 < s_.size() && hexDigit(s_[at_]) >= 0 && hexDigit(s_[at_ + 1]) >= 0) {
            value_ += static_cast<char>(hexDigit(s_[at_]) << 4 | hexDigit(s_[at_ + 1]));
            at_ += 2;
        } else {
            value_ += c;
        }
    }
    return Name;
}

}  // namespace capture
