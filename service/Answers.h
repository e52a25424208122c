// The capture service's answers: requests that wait for an engine, answered with their
// picture (mapped from its file, never read whole) or an error with its reason, logged
// and counted. A client that leaves is heard, so that its capture can be stopped.
#pragma once

#include <libsoup/soup.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "service/Metrics.h"
#include "shot/EnginePool.h"

namespace service {

class Answers {
public:
    explicit Answers(Metrics&);
    ~Answers();

    // Holds `msg` until `job` is done, then answers it; `released` is called then.
    // `socket`, when known, is watched for the client leaving meanwhile.
    void await(SoupServerMessage*, GSocket* socket, const std::shared_ptr<shot::EngineJob>&, gint64 began,
               std::function<void()> released);
    // What to do when the client of a held request leaves before its answer.
    void onLeft(SoupServerMessage*, std::function<void()>);
    // Lets go of a held request whose job was never taken, answering it with an error.
    void release(SoupServerMessage*, guint status, const char* name, const std::string& message);

    void reply(SoupServerMessage*, guint status, const std::string& type, const std::string& body, const char* outcome,
               gint64 began, const char* host = nullptr);
    // An error's JSON body; with the page's whole report as its "report", when there is one.
    void error(SoupServerMessage*, guint status, const char* name, const std::string& message, gint64 began,
               const char* host = nullptr, const shot::PageReport* report = nullptr);

    struct Held;

private:
    void answer(Held&, const shot::WorkerAnswer&);
    void log(SoupServerMessage*, guint status, std::size_t bytes, double seconds, const char* host);
    void forget(Held&);

    Metrics& metrics_;
    std::map<SoupServerMessage*, std::unique_ptr<Held>> held_;
};

}  // namespace service
