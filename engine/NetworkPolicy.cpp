#include "engine/NetworkPolicy.h"

#include <cerrno>

#include "engine/Identity.h"
#include "engine/PagePainter.h"
#include "engine/WebViews.h"

namespace engine {

namespace {

Failure failureOf(const TurnedAway& t) {
    const std::string where = destinationText(t.to);
    switch (t.why) {
        case TurnedAway::Why::Refused: return {LoadError::PrivateAddress, where + " " + t.address + " " + kindToken(t.kind)};
        case TurnedAway::Why::NoHost: return {LoadError::NoHost, t.to.host + ": " + t.error};
        case TurnedAway::Why::TimedOut: return {LoadError::TimedOut, where + ": " + t.error};
        case TurnedAway::Why::NotReached: break;
    }
    if (t.code == ECONNREFUSED) return {LoadError::ConnectionRefused, where + ": " + t.error};
    if (t.code == EHOSTUNREACH || t.code == ENETUNREACH) return {LoadError::Unreachable, where + ": " + t.error};
    return {LoadError::Other, where + ": " + t.error};
}

// A navigation held while the address it goes to is resolved, away from the main loop.
struct Check {
    NetworkPolicy* policy;
    std::shared_ptr<bool> alive;
    unsigned capture;
    WebKitPolicyDecision* decision;  // held
    AddressRules rules;
    Destination to;
    std::string address;
    Resolved resolved;
    ~Check() { g_object_unref(decision); }
};

}  // namespace

NetworkPolicy::~NetworkPolicy() { *alive_ = false; }

void NetworkPolicy::watch(WebKitWebView* view) {
    g_signal_connect(view, "decide-policy", G_CALLBACK(&NetworkPolicy::decide), this);
}

void NetworkPolicy::useProxy(int ms, const std::atomic<bool>* cancel) {
    proxy_ = std::make_unique<ForwardProxy>();
    // A proxy that cannot listen leaves the engine pointed at a closed port: nothing loads.
    const std::string uri = "http://127.0.0.1:" + std::to_string(proxy_->port() ? proxy_->port() : 9);
    if (!proxy_->port()) failure_ = Failure{LoadError::Other, "no proxy could listen on 127.0.0.1"};
    WebKitWebsiteDataManager* data = webkit_web_context_get_website_data_manager(sharedWebContext());
    // No host goes around it, loopback names and addresses included.
    const gchar* none[] = {nullptr};
    WebKitNetworkProxySettings* settings = webkit_network_proxy_settings_new(uri.c_str(), none);
    webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings);
    webkit_network_proxy_settings_free(settings);
    // The network process takes its messages in order: once it has answered one asked
    // after the settings, it uses them.
    auto answered = std::make_shared<bool>(false);
    webkit_website_data_manager_fetch(data, WEBKIT_WEBSITE_DATA_COOKIES, nullptr,
                                      [](GObject* source, GAsyncResult* result, gpointer d) {
                                          std::unique_ptr<std::shared_ptr<bool>> keep(static_cast<std::shared_ptr<bool>*>(d));
                                          GList* got = webkit_website_data_manager_fetch_finish(
                                              WEBKIT_WEBSITE_DATA_MANAGER(source), result, nullptr);
                                          g_list_free_full(got, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
                                          **keep = true;
                                      },
                                      new std::shared_ptr<bool>(answered));
    iterateUntil([&] { return *answered; }, ms, cancel);
}

void NetworkPolicy::begin(const NetworkRules& rules, const std::string& address, int ms, const std::atomic<bool>* cancel) {
    ++capture_;
    failure_.reset();
    navigationsRefused_ = 0;
    firstNavigationRefused_.clear();
    rules_ = AddressRules(rules.denyPrivate, rules.allowHosts);
    asked_ = canonicalAddress(address);
    askedSeen_ = false;
    // Once set up, the proxy stays in the engine's way: a change of proxy reaches the
    // network process apart from the page's requests, and is not to race them.
    if (rules.denyPrivate && !proxy_) useProxy(ms, cancel);
    if (!proxy_) return;
    proxy_->setRules(rules_);
    proxy_->forget();
}

gboolean NetworkPolicy::decide(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer data) {
    auto* self = static_cast<NetworkPolicy*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION)
        return self->decideNavigation(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return self->decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
    return FALSE;
}

bool NetworkPolicy::decideNavigation(WebKitNavigationPolicyDecision* decision) {
    if (!rules_.denies()) return false;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(decision);
    // Redirects are the proxy's to judge; the page asked for goes to it too, and fails
    // with its reason when refused.
    if (webkit_navigation_action_is_redirect(action)) return false;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    const std::string address = uri ? uri : "";
    if (!askedSeen_ && address == asked_) {
        askedSeen_ = true;
        return false;
    }
    const auto to = destinationOfAddress(address);
    if (!to) return false;
    // A move of the page's own (or of a frame's) is held until the address it goes to is
    // known: refused, it is not made, and the page stays where it is.
    auto* check = new Check{this, alive_, capture_, WEBKIT_POLICY_DECISION(g_object_ref(decision)), rules_, *to, address, {}};
    GTask* task = g_task_new(nullptr, nullptr, [](GObject*, GAsyncResult* result, gpointer) {
        auto* c = static_cast<Check*>(g_task_get_task_data(G_TASK(result)));
        const auto verdict = c->rules.judge(c->to, c->resolved.addresses);
        if (verdict.allowed) {
            webkit_policy_decision_use(c->decision);
            return;
        }
        webkit_policy_decision_ignore(c->decision);
        if (!*c->alive || c->capture != c->policy->capture_) return;
        if (c->policy->navigationsRefused_++ == 0) c->policy->firstNavigationRefused_ = c->address;
    }, nullptr);
    g_task_set_task_data(task, check, [](gpointer c) { delete static_cast<Check*>(c); });
    g_task_run_in_thread(task, [](GTask* t, gpointer, gpointer data, GCancellable*) {
        auto* c = static_cast<Check*>(data);
        c->resolved = resolve(c->to);
        g_task_return_boolean(t, TRUE);
    });
    g_object_unref(task);
    return true;
}

bool NetworkPolicy::decideResponse(WebKitResponsePolicyDecision* decision) {
    // The proxy's own answer for the page's document (refused, no such host, not
    // reached) is not a page: the load fails, with the proxy's reason.
    if (!proxy_ || !webkit_response_policy_decision_is_main_frame_main_resource(decision)) return false;
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    const unsigned status = webkit_uri_response_get_status_code(response);
    if (status != 403 && status != 502 && status != 504) return false;
    const auto to = destinationOfAddress(webkit_uri_response_get_uri(response) ? webkit_uri_response_get_uri(response) : "");
    const auto turned = to ? proxy_->turnedAway(*to) : std::nullopt;
    if (!turned) return false;
    failure_ = failureOf(*turned);
    webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
    return true;
}

void NetworkPolicy::tally(ShotResult& r) const {
    r.refused = navigationsRefused_;
    r.firstRefused = firstNavigationRefused_;
    if (!proxy_) return;
    const auto t = proxy_->tally();
    r.refused += t.refused;
    if (navigationsRefused_ == 0) r.firstRefused = t.firstRefused;
}

}  // namespace engine
