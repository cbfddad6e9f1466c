// A session's link to the host agent: its opening asks the agent to attest
// the process (one request on the agent's Unix socket, one line back, all
// within a bound), and on that same connection the session then reports
// each seal it logs, never waiting for the agent.
#pragma once

#include "trail/attestation_record.h"

#include <chrono>
#include <optional>
#include <string>

namespace quorvel::seal {

class AgentLink {
  public:
    AgentLink() = default;
    ~AgentLink() { drop(); }
    AgentLink(const AgentLink&) = delete;
    AgentLink& operator=(const AgentLink&) = delete;

    // The agent's attestation of this process for `request`, asked on the
    // socket at `path` and waited for no longer than `bound` (an agent not
    // there yet, starting or restarting, is tried again within it); nothing
    // when no agent answers in time, it refuses, or its answer is not an
    // attestation of this request. The connection stays for the reports
    // after an attestation, and is dropped otherwise; a link held before is
    // dropped first.
    std::optional<CarriedAttestation> attest(const std::string& path, std::chrono::milliseconds bound,
                                             const AttestationRequest& request);
    // Reports a seal the session logged, without waiting: what the socket
    // has no room for waits for the next report, up to kMostPendingBytes,
    // beyond which reports are dropped whole. The end seal's report, the
    // last, waits for room as long as the attestation could; then the link
    // is dropped.
    void report(const SealReport& report);
    bool linked() const { return fd_ >= 0; }
    // Closes the connection (also in a forked child, whose copy it is:
    // async-signal-safe).
    void drop();

    static constexpr std::size_t kMostPendingBytes = 16384;

  private:
    void flush();

    int fd_ = -1;
    std::chrono::milliseconds bound_{0};
    std::string pending_; // whole report lines the socket has not taken yet
};

} // namespace quorvel::seal
