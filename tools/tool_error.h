// The one error type of the operators' tools: a message for the user and the
// exit status it ends the tool with.
#pragma once

#include <iostream>
#include <string>

namespace quorvel_tools {

struct ToolError {
    std::string message;
    int status = 2; // usage errors and unreadable input
};

// Prints "<program>: <message>" on standard error and returns the status.
inline int reportToolError(const char* program, const ToolError& error) {
    std::cerr << program << ": " << error.message << '\n';
    return error.status;
}

// A tool's main: the exit status `body` returns, or that of the ToolError it
// throws, reported.
template <class Body> int runTool(const char* program, Body body) {
    try {
        return body();
    } catch (const ToolError& error) {
        return reportToolError(program, error);
    }
}

} // namespace quorvel_tools
