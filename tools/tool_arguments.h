// The operators' tools' command lines, read one argument after the other:
// an option's value, or the one usage error every tool gives without it.
#pragma once

#include "tool_error.h"

#include <string>
#include <vector>

namespace quorvel_tools {

class Arguments {
  public:
    // The arguments after the program's name.
    Arguments(int argc, char** argv) : args_(argv + 1, argv + argc) {}
    explicit Arguments(std::vector<std::string> args) : args_(std::move(args)) {}

    bool done() const { return next_ == args_.size(); }
    const std::string& next() { return args_[next_++]; }
    // The value after `option`, which was just read.
    const std::string& valueOf(const std::string& option) {
        if (done()) throw ToolError{option + " needs a value (see --help)"};
        return next();
    }
    // The arguments not read yet.
    std::vector<std::string> rest() const { return {args_.begin() + static_cast<long>(next_), args_.end()}; }

  private:
    std::vector<std::string> args_;
    std::size_t next_ = 0;
};

// What `--help` and `-h` are to every tool.
inline bool asksForHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

} // namespace quorvel_tools
