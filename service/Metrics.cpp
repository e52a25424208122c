#include "service/Metrics.h"

#include <charconv>
#include <cstdio>
#include <sstream>

namespace service {

void Metrics::answered(const std::string& status, double seconds, std::uint64_t pictureBytes) {
    ++byStatus_[status];
    ++count_;
    sum_ += seconds;
    bytes_ += pictureBytes;
    for (std::size_t i = 0; i < kBounds.size(); ++i)
        if (seconds <= kBounds[i]) ++buckets_[i];
}

void Metrics::engineReplaced(shot::EnginePool::Replaced why) {
    using R = shot::EnginePool::Replaced;
    ++(why == R::AfterLogin ? retired_ : why == R::ClientLeft ? stoppedForClients_ : restarts_);
}

std::string Metrics::text(std::size_t queued, std::size_t busy, std::size_t engines) const {
    std::ostringstream m;
    m << "# HELP vemo_requests_total Capture requests answered, by outcome.\n# TYPE vemo_requests_total counter\n";
    for (const auto& [status, n] : byStatus_) m << "vemo_requests_total{status=\"" << status << "\"} " << n << "\n";
    m << "# HELP vemo_queue_length Requests waiting for an engine.\n# TYPE vemo_queue_length gauge\n"
      << "vemo_queue_length " << queued << "\n"
      << "# HELP vemo_engines_busy Engines photographing now.\n# TYPE vemo_engines_busy gauge\n"
      << "vemo_engines_busy " << busy << "\n"
      << "# HELP vemo_engines Engines running.\n# TYPE vemo_engines gauge\nvemo_engines " << engines << "\n"
      << "# HELP vemo_engine_restarts_total Engines replaced after a hang or a crash.\n"
      << "# TYPE vemo_engine_restarts_total counter\nvemo_engine_restarts_total " << restarts_ << "\n"
      << "# HELP vemo_engine_retired_total Engines replaced after they answered a login, which they would keep.\n"
      << "# TYPE vemo_engine_retired_total counter\nvemo_engine_retired_total " << retired_ << "\n"
      << "# HELP vemo_engine_stopped_client_left_total Engines stopped because the client of their page left.\n"
      << "# TYPE vemo_engine_stopped_client_left_total counter\nvemo_engine_stopped_client_left_total "
      << stoppedForClients_ << "\n"
      << "# HELP vemo_picture_bytes_total Bytes of pictures sent.\n# TYPE vemo_picture_bytes_total counter\n"
      << "vemo_picture_bytes_total " << bytes_ << "\n"
      << "# HELP vemo_request_seconds Time from a capture request to its answer.\n"
      << "# TYPE vemo_request_seconds histogram\n";
    for (std::size_t i = 0; i < kBounds.size(); ++i) {
        // Written the same under every locale.
        char le[32];
        const auto end = std::to_chars(le, le + sizeof le - 1, kBounds[i]).ptr;
        *end = '\0';
        m << "vemo_request_seconds_bucket{le=\"" << le << "\"} " << buckets_[i] << "\n";
    }
    m << "vemo_request_seconds_bucket{le=\"+Inf\"} " << count_ << "\n"
      << "vemo_request_seconds_sum " << sum_ << "\nvemo_request_seconds_count " << count_ << "\n";
    return m.str();
}

}  // namespace service
