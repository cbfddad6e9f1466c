// Sealing as the operator sets it in the properties file:
//
//   quorvel.seal=on                       off (the default) or on
//   quorvel.seal.auditorKey=<base64>      the auditor's public key (quorvel-verify keygen)
//   quorvel.seal.logger=quorvel.seal      the logger seal records go to
//   quorvel.seal.lines=256                a seal at the latest after this many lines (at most 4096),
//   quorvel.seal.millis=1000              or this long after the first line it covers,
//   quorvel.seal.idleMillis=60000         and one this long after the last when idle
//   quorvel.seal.maxBytes=4096            the longest seal line the path to the collector carries
//   quorvel.seal.agent=off                off (the default), on (the agent's default socket) or a socket's path
//   quorvel.seal.agentMillis=100          the longest a session's opening waits for the agent (at most 10000)
//   quorvel.seal.checkpointMillis=60000   an attested session's seals carry a checkpoint this often
#pragma once

#include "trail/seal_keys.h"

#include <log4cxx/helpers/properties.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

inline constexpr const char* kDefaultAgentSocket = "/run/quorvel/sealagent.sock";
inline constexpr std::uint64_t kMostAgentMillis = 10000;

struct SealSettings {
    std::string logger;               // the logger seal records go to
    seal::AuditorPublicKey auditor{}; // the session's first key is encrypted to it
    std::uint64_t lines = 256;        // a seal at the latest after this many lines,
    std::uint64_t millis = 1000;      // or this long after the first line it covers,
    std::uint64_t idleMillis = 60000; // and one this long after the last when idle
    std::uint64_t maxBytes = 4096;    // no seal line is longer
    std::string agent;                // the host agent's socket; empty: none is asked
    std::uint64_t agentMillis = 100;  // the longest an opening waits for the agent
    // An attested session's first seal this long after its opening or its
    // last checkpoint carries a checkpoint.
    std::uint64_t checkpointMillis = 60000;
};

// The most lines a seal may cover: a seal's line grows by 12 bytes a line.
inline constexpr std::uint64_t kMostSealLines = 4096;

struct SealSetup {
    bool on = false;
    bool valid = true; // false: on, but a value is missing or wrong, or libsodium cannot start
    std::string fault; // when not valid, why: the key and its value, and what is wrong
    SealSettings settings;
};

// What the properties ask for; not valid either when the longest seal a
// session of `module` can write, on any host, exceeds maxBytes.
SealSetup readSealSetup(const log4cxx::helpers::Properties& properties, std::string_view module);

// The length of the longest seal line a session of `module` writes with
// `settings`, for a host name of up to 253 bytes (a DNS name's longest).
std::uint64_t longestSealBytes(const SealSettings& settings, std::string_view module);

} // namespace quorvel
