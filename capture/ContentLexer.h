// The tokens of a PDF content stream, as far as reading its text needs them: names,
// strings (their bytes), arrays, operators; anything else is passed over as an operand.
#pragma once

#include <string>
#include <string_view>

namespace capture {

class ContentLexer {
public:
    enum Token { End, Bad, Name, String, Open, Close, Operator, Other };

    explicit ContentLexer(std::string_view content) : s_(content) {}

    Token next();
    // The last name (with its slash, escapes undone) or string's bytes.
    const std::string& value() const { return value_; }
    // The last operator.
    std::string_view word() const { return word_; }

private:
    Token literal();
    Token hex();
    Token name();

    std::string_view s_;
    std::size_t at_ = 0;
    std::string value_;
    std::string_view word_;
};

}  // namespace capture
