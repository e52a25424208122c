#include "engine/Navigation.h"

#include <algorithm>
#include <cstdlib>

namespace engine {

namespace {

// The ports browsers refuse to connect to, since other protocols listen there.
constexpr int kRestricted[] = {1,    7,    9,    11,   13,   15,   17,   19,   20,   21,   22,   23,   25,   37,
                               42,   43,   53,   69,   77,   79,   87,   95,   101,  102,  103,  104,  109,  110,
                               111,  113,  115,  117,  119,  123,  135,  137,  139,  143,  161,  179,  389,  427,
                               465,  512,  513,  514,  515,  526,  530,  531,  532,  540,  548,  554,  556,  563,
                               587,  601,  636,  989,  990,  993,  995,  1719, 1720, 1723, 2049, 3659, 4045, 4190,
                               5060, 5061, 6000, 6566, 6665, 6666, 6667, 6668, 6669, 6679, 6697, 10080};

bool isBlank(const std::string& a) { return a.rfind("about:blank", 0) == 0; }

}  // namespace

int restrictedPort(const std::string& address) {
    const auto scheme = address.find("://");
    if (scheme == std::string::npos) return 0;
    std::string s = address.substr(0, scheme);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (s != "http" && s != "https") return 0;
    std::string authority = address.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    authority = authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    const auto bracket = authority.rfind(']');
    const auto colon = authority.rfind(':');
    if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) return 0;
    const std::string digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    const int port = std::atoi(digits.c_str());
    return std::find(std::begin(kRestricted), std::end(kRestricted), port) != std::end(kRestricted) ? port : 0;
}

void Navigation::requested(const std::string& address) {
    state_ = State::Opening;
    failure_ = {};
    asked_ = address_ = address;
    awaitingStart_ = true;
    hops_ = documents_ = 0;
    ++changes_;
}

void Navigation::started(const std::string& address) {
    ++changes_;
    if (!address.empty()) address_ = address;
    if (awaitingStart_) {
        awaitingStart_ = false;
        return;
    }
    if (state_ == State::Failed && failure_.error != LoadError::NeverSettles) return;
    // The page moves on by itself: a script, a refresh, a link followed for it.
    if (state_ == State::Idle) {
        state_ = State::Opening;
        return;
    }
    if (++hops_ > kMostHops) return fail(LoadError::NeverSettles, std::to_string(hops_));
    if (state_ != State::Failed) state_ = State::Opening;
}

void Navigation::committed(const std::string& address) {
    ++changes_;
    awaitingStart_ = false;
    if (state_ == State::Failed) return;
    // The engine refuses some addresses without a word: it shows an empty page instead.
    if (isBlank(address) && !isBlank(asked_) && !asked_.empty() && documents_ == 0) {
        const int port = restrictedPort(asked_);
        return fail(LoadError::Refused, port ? std::to_string(port) : std::string{});
    }
    address_ = address;
    ++documents_;
    state_ = State::Arrived;
}

void Navigation::finished() {
    // Only a load whose document came counts: a navigation cut short ends too, and
    // says nothing of the page now asked for.
    if (state_ == State::Arrived) state_ = State::Loaded;
}

void Navigation::failed(LoadError error, const std::string& detail, bool cancelled) {
    if (cancelled || state_ == State::Idle) return;
    if (state_ == State::Failed) return;
    fail(error, detail);
}

void Navigation::processEnded(bool endedByUs, bool outOfMemory) {
    ++changes_;
    documents_ = 0;
    awaitingStart_ = false;
    fail(endedByUs ? LoadError::Stopped : outOfMemory ? LoadError::OutOfMemory : LoadError::Crashed, {});
}

void Navigation::fail(LoadError error, std::string detail) {
    state_ = State::Failed;
    failure_ = {error, std::move(detail)};
}

}  // namespace engine
