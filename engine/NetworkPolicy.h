// The network rules of the engine's captures. From the first capture that refuses
// private addresses on, every request of the engine goes through a forward proxy in
// this process (engine/Proxy.h), which judges the address each name resolves to and
// connects to exactly that one: subresources, frames, every hop of a redirect,
// fetch, WebSocket, and the page itself. A page that moves itself, or one of its
// frames, to a refused address stays where it is; the page asked for, refused, fails
// with the reason.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "engine/Addresses.h"
#include "engine/Proxy.h"
#include "engine/Shot.h"

namespace engine {

class NetworkPolicy {
public:
    NetworkPolicy() = default;
    ~NetworkPolicy();
    NetworkPolicy(const NetworkPolicy&) = delete;
    NetworkPolicy& operator=(const NetworkPolicy&) = delete;

    // Follows a view's navigations and the answers to its page's own requests.
    void watch(WebKitWebView*);
    // Puts `rules` in force for a capture of `address`: the first that refuses private
    // addresses sets the proxy up, and waits (at most `ms`) until the engine uses it.
    void begin(const NetworkRules&, const std::string& address, int ms, const std::atomic<bool>* cancel);
    // Why the page itself could not be reached, when the proxy answered for it.
    const std::optional<Failure>& failure() const { return failure_; }
    // Notes the requests refused since begin().
    void tally(ShotResult&) const;

private:
    static gboolean decide(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    bool decideNavigation(WebKitNavigationPolicyDecision*);
    bool decideResponse(WebKitResponsePolicyDecision*);
    void useProxy(int ms, const std::atomic<bool>* cancel);

    std::unique_ptr<ForwardProxy> proxy_;
    AddressRules rules_;
    std::string asked_;       // the address asked for, as WebKit writes it
    bool askedSeen_ = false;  // its navigation has been decided on
    std::optional<Failure> failure_;
    unsigned capture_ = 0;    // counts captures: a late check of an earlier one counts for none
    int navigationsRefused_ = 0;
    std::string firstNavigationRefused_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace engine
