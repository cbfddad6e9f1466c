// The process's sealed session as initialisation left it, for the tools
// that report on it (initSyslog, initXDAS and closeSealedSession are the
// library's public entry points, declared in <quorvel/logging.h>).
#pragma once

#include "trail/seal_worker.h"

namespace quorvel {

// The session initialisation started, or null when sealing is off.
SealWorker* sealedSession();

} // namespace quorvel
