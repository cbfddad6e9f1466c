// One-time initialisation of log4cxx and the cached host name, which a layer
// above the logging core may join without the core knowing what it does.
#pragma once

#include <log4cxx/helpers/properties.h>

#include <string>
#include <string_view>

namespace quorvel {

// A layer's part in initialisation. Under the initialisation lock, accept()
// sees the properties file and the module name before anything is applied
// (false: the file is rejected, and nothing is applied); start() runs once log4cxx is configured
// and the host name is known. finish() runs after the lock is released,
// where logging is allowed, and only when start() ran in the same call.
class InitialisationPart {
  public:
    virtual bool accept(const log4cxx::helpers::Properties& properties, std::string_view module) = 0;
    virtual void start(std::string_view host, std::string_view module) = 0;
    virtual void finish() = 0;

  protected:
    ~InitialisationPart() = default;
};

// Configures log4cxx from `configPath` for `moduleName`, once per process:
// 0 on success, 1 when the file cannot be read or `part` rejects it, 2 when
// another module initialised first, or the resolver's EAI_ code when the
// host's canonical name cannot be found.
int initialiseLogging(const std::string& configPath, std::string moduleName, InitialisationPart& part);

} // namespace quorvel
