// What the capture service counts, in the Prometheus text format.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "shot/EnginePool.h"

namespace service {

class Metrics {
public:
    void answered(const std::string& status, double seconds, std::uint64_t pictureBytes);
    void engineReplaced(shot::EnginePool::Replaced);
    std::string text(std::size_t queued, std::size_t busy, std::size_t engines) const;

private:
    std::map<std::string, std::uint64_t> byStatus_;
    std::vector<std::uint64_t> buckets_ = std::vector<std::uint64_t>(kBounds.size(), 0);
    std::uint64_t count_ = 0, bytes_ = 0;
    std::uint64_t restarts_ = 0, retired_ = 0, stoppedForClients_ = 0;
    double sum_ = 0;
    static inline const std::vector<double> kBounds = {0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60};
};

}  // namespace service
