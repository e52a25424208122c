// The navigation tracker against the engine's events as they come, in the orders the
// engine sends them: the page asked for, where it moves on to, and nothing of before.
#include <gtest/gtest.h>

#include <functional>

#include "engine/Navigation.h"

using engine::LoadError;
using engine::Navigation;
using State = Navigation::State;

namespace {

// A fake engine: sends a view's load events for a document at `address`.
struct FakeEngine {
    Navigation nav;
    void arrive(const std::string& address, bool finish = true) {
        nav.started(address);
        nav.committed(address);
        if (finish) nav.finished();
    }
};

TEST(Navigation, FollowsThePageAskedForWhereverItMovesByItself) {
    FakeEngine e;
    EXPECT_EQ(e.nav.state(), State::Idle);
    e.nav.requested("http://a/");
    EXPECT_EQ(e.nav.state(), State::Opening);
    e.arrive("http://a/", false);
    EXPECT_EQ(e.nav.state(), State::Arrived);
    EXPECT_TRUE(e.nav.hasDocument());
    e.nav.finished();
    EXPECT_EQ(e.nav.state(), State::Loaded);
    const auto before = e.nav.changes();
    // A script or a refresh takes the page on: opening again, until the new one has loaded.
    e.nav.started("http://a/next");
    EXPECT_EQ(e.nav.state(), State::Opening);
    EXPECT_EQ(e.nav.hops(), 1);
    EXPECT_NE(e.nav.changes(), before);
    e.nav.committed("http://a/next");
    e.nav.finished();
    EXPECT_EQ(e.nav.state(), State::Loaded);
    EXPECT_EQ(e.nav.address(), "http://a/next");
}

TEST(Navigation, WhatAnEarlierPageLeftUnderWayCountsForNothing) {
    FakeEngine e;
    e.nav.requested("http://a/");
    e.arrive("http://a/");
    e.nav.started("http://a/refresh");  // a's own move, under way when b is asked for
    e.nav.requested("http://b/");
    // The move is cut short: its end says nothing of b, in whichever order it comes.
    e.nav.failed(LoadError::Other, "cancelled", true);
    e.nav.finished();
    EXPECT_EQ(e.nav.state(), State::Opening);
    e.nav.started("http://b/");
    e.nav.finished();
    EXPECT_EQ(e.nav.state(), State::Opening);
    e.nav.committed("http://b/");
    e.nav.finished();
    EXPECT_EQ(e.nav.state(), State::Loaded);
    EXPECT_EQ(e.nav.hops(), 0);
}

TEST(Navigation, FailuresSayWhy) {
    struct Case {
        const char* asked;
        std::function<void(Navigation&)> events;
        LoadError error;
        std::string detail;
    };
    const Case cases[] = {
        // The engine refuses a restricted port by showing an empty page instead.
        {"http://127.0.0.1:25/", [](Navigation& n) { n.started("http://127.0.0.1:25/"); n.committed("about:blank"); n.finished(); },
         LoadError::Refused, "25"},
        {"http://[::1]:6000/x", [](Navigation& n) { n.committed("about:blank"); }, LoadError::Refused, "6000"},
        {"weird:thing", [](Navigation& n) { n.committed("about:blank"); }, LoadError::Refused, ""},
        {"http://a/", [](Navigation& n) { n.started("http://a/"); n.failed(LoadError::ConnectionRefused, "refused", false); n.finished(); },
         LoadError::ConnectionRefused, "refused"},
        // A page whose move fails has failed where it landed.
        {"http://a/", [](Navigation& n) { n.started("http://a/"); n.committed("http://a/"); n.finished();
                                          n.started("http://gone/"); n.failed(LoadError::NoHost, "no host", false); },
         LoadError::NoHost, "no host"},
        {"http://a/", [](Navigation& n) { n.started("http://a/"); n.committed("http://a/"); n.processEnded(false); },
         LoadError::Crashed, ""},
        {"http://a/", [](Navigation& n) { n.started("http://a/"); n.processEnded(true); }, LoadError::Stopped, ""},
        // A page that never stops moving on.
        {"http://a/", [](Navigation& n) {
             n.started("http://a/");
             for (int i = 0; i <= Navigation::kMostHops; ++i) {
                 n.committed("http://a/" + std::to_string(i));
                 n.finished();
                 n.started("http://a/" + std::to_string(i + 1));
             }
         }, LoadError::NeverSettles, std::to_string(Navigation::kMostHops + 1)},
    };
    for (const auto& c : cases) {
        Navigation n;
        n.requested(c.asked);
        c.events(n);
        EXPECT_EQ(n.state(), State::Failed) << c.asked;
        EXPECT_EQ(n.failure().error, c.error) << c.asked;
        EXPECT_EQ(n.failure().detail, c.detail) << c.asked;
    }
    // about:blank asked for is no refusal; a new request forgets the last failure.
    Navigation n;
    n.requested("about:blank");
    n.committed("about:blank");
    EXPECT_EQ(n.state(), State::Arrived);
    n.processEnded(false);
    n.requested("http://b/");
    EXPECT_EQ(n.state(), State::Opening);
    EXPECT_EQ(n.failure().error, LoadError::None);
}

TEST(Navigation, RestrictedPortsAreReadFromAddressesOfEveryShape) {
    EXPECT_EQ(engine::restrictedPort("http://127.0.0.1:25/"), 25);
    EXPECT_EQ(engine::restrictedPort("HTTPS://user:pw@host:6667/x?y#z"), 6667);
    EXPECT_EQ(engine::restrictedPort("http://[::1]:22"), 22);
    EXPECT_EQ(engine::restrictedPort("http://host:8080/"), 0);
    EXPECT_EQ(engine::restrictedPort("http://host/a:25"), 0);
    EXPECT_EQ(engine::restrictedPort("http://[::25]/"), 0);
    EXPECT_EQ(engine::restrictedPort("file:///tmp/x:25"), 0);
    EXPECT_EQ(engine::restrictedPort("http://host:25x/"), 0);
}

}  // namespace
