// What became of the navigation a capture started: one tracker, fed the engine's load
// events, for every web view of both programs. A capture counts only the navigation
// it asked for and where the page itself took it on from there (a script, a refresh),
// never what an earlier page left under way.
#pragma once

#include <string>

namespace engine {

// Why a page could not be opened, as the engine reports it; the programs word it.
enum class LoadError {
    None,
    Refused,            // the engine would not load the address (a restricted port...); detail: the port, if any
    ConnectionRefused,
    TimedOut,
    Unreachable,
    ConnectionClosed,
    NoHost,
    Tls,
    NotFound,
    NoPermission,
    Unsupported,        // an address of a kind the engine does not load
    NotAPage,           // something the engine does not show (a download...)
    NeverSettles,       // the page kept navigating on by itself
    Stopped,            // it did not answer, and its process was ended
    Crashed,            // its process ended by itself
    OutOfMemory,        // its process took more memory than a page may, and was ended
    NeedsLogin,         // the page asks for a user name and password, and none was given for it
    LoginRefused,       // the user name and password given were refused
    PrivateAddress,     // the network rules refuse the address; detail: host:port, the address and its
                        // kind (loopback, private...), each a word
    Other,              // detail: the engine's words
};

struct Failure {
    LoadError error = LoadError::None;
    std::string detail;
};

// The port of an address that browsers never connect to, or 0.
int restrictedPort(const std::string& address);

class Navigation {
public:
    enum class State {
        Idle,     // nothing asked for yet
        Opening,  // asked for, or the page moved on by itself: nothing of it shown yet
        Arrived,  // its document has come
        Loaded,   // and everything it asked for while loading
        Failed,
    };
    // Navigations a page may start by itself after the one asked for.
    static constexpr int kMostHops = 10;

    // The capture asks for `address`: everything before it is forgotten.
    void requested(const std::string& address);
    // The engine's events for the main frame.
    void started(const std::string& address);
    void committed(const std::string& address);
    void finished();
    // `cancelled`: cut short by a newer navigation, which says nothing of the newer one.
    void failed(LoadError, const std::string& detail, bool cancelled);
    void processEnded(bool endedByUs, bool outOfMemory = false);

    State state() const { return state_; }
    const Failure& failure() const { return failure_; }
    // Navigations the page started by itself since the one asked for.
    int hops() const { return hops_; }
    // Grows at every navigation started or document committed: a capture that sees it
    // change knows the page it measured is not the one it would paint.
    unsigned long changes() const { return changes_; }
    const std::string& address() const { return address_; }
    bool hasDocument() const { return documents_ > 0; }

private:
    void fail(LoadError, std::string detail);

    State state_ = State::Idle;
    Failure failure_;
    std::string asked_, address_;
    bool awaitingStart_ = false;
    int hops_ = 0, documents_ = 0;
    unsigned long changes_ = 0;
};

}  // namespace engine
