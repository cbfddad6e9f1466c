// Sealing as the operator sets it in the properties file:
//
//   quorvel.seal=on                       off (the default) or on
//   quorvel.seal.auditorKey=<base64>      the auditor's public key (quorvel-verify keygen)
//   quorvel.seal.logger=quorvel.seal      the logger seal records go to
//   quorvel.seal.lines=256                a seal at the latest after this many lines,
//   quorvel.seal.millis=1000              or this long after the first line it covers,
//   quorvel.seal.idleMillis=60000         and one this long after the last when idle
#pragma once

#include "logging/seal_session.h"

#include <log4cxx/helpers/properties.h>

namespace quorvel {

struct SealSetup {
    bool on = false;
    bool valid = true; // false: on, but a value is missing or wrong, or libsodium cannot start
    SealSettings settings;
};

SealSetup readSealSetup(const log4cxx::helpers::Properties& properties);

} // namespace quorvel
