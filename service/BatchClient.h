// A batch sent to a running capture service (or to a load balancer in front of
// several): --jobs requests at once, each page's options sent as the service's fields,
// its picture written as a local one is (complete, or not at all) and its report line
// made of what the service says of it.
#pragma once

#include <atomic>
#include <functional>

#include "shot/Ledger.h"
#include "shot/Options.h"

namespace service {

// What photographs a batch's pages through the service `o.service` names. A 503 is
// asked again after its Retry-After; a connection that failed, a few times more.
std::function<void(shot::Ledger&)> batchThroughService(const shot::Options&, const std::atomic<bool>& interrupted);

// The JSON fields of a request for `address` in `format`, from the options as they
// were given: what the service reads as the command would.
std::string fieldsFor(const shot::Options&, const std::string& address, capture::Format format);

}  // namespace service
