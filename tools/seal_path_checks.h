// What a sealed trail needs of the log4cxx configuration in force: every
// seal reaches its appenders whole, at least one appender takes seals, and
// no appender's threshold drops an event line, which the library has numbered by then
// and the seals vouch for.
#pragma once

#include "trail/seal_settings.h"

#include <string>
#include <string_view>
#include <vector>

namespace quorvel_tools {

struct SealPathFinding {
    bool failure = false; // false: a warning, the trail still verifies where the lines are collected whole
    std::string text;     // what, where, and what to set, for people
};

// Checks the configuration in force for a session of `module` sealing with
// `settings`:
// - failure: a SyslogAppender the seal logger reaches that would split the
//   longest seal line (longer, with its layout, than its MaxMessageLength);
// - failure: no appender the seal logger reaches lets a seal (INFO) through;
// - for each logger the file configures (root included) but the seal
//   logger, at each level it logs: an appender whose Threshold drops the
//   line; a failure when no appender of that logger takes it, a warning
//   when another does.
std::vector<SealPathFinding> checkSealPath(const quorvel::SealSettings& settings, std::string_view module);

} // namespace quorvel_tools
