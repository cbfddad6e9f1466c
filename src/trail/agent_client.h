// A session's opening asks the host agent to attest the process: one
// request on the agent's Unix socket, one line back, all within a bound.
#pragma once

#include "trail/attestation_record.h"

#include <chrono>
#include <optional>
#include <string>

namespace quorvel::seal {

// The agent's attestation of this process for `request`, asked on the
// socket at `path` and waited for no longer than `bound`; nothing when no
// agent answers in time, it refuses, or its answer is not an attestation of
// this request.
std::optional<CarriedAttestation> askAgent(const std::string& path, std::chrono::milliseconds bound,
                                           const AttestationRequest& request);

} // namespace quorvel::seal
