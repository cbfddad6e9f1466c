// log4cxx's own diagnostics, as the tools that apply a properties file show
// them.
#pragma once

#include <cstdlib>
#include <unistd.h>

namespace quorvel_tools {

// log4cxx 1.6 and later colour their diagnostics with terminal escapes even
// into a pipe or a file; only a terminal gets them here. Call before log4cxx
// reads it, at its first diagnostic; older versions ignore it.
inline void colourLog4cxxDiagnosticsOnlyOnATerminal() {
    if (!isatty(STDERR_FILENO)) setenv("LOG4CXX_COLOR", "false", 0);
}

} // namespace quorvel_tools
