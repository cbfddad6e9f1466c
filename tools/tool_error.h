// How the operators' tools end: a message for the user and the exit status
// it ends the tool with, or the usage asked for with --help.
#pragma once

#include <exception>
#include <iostream>
#include <string>

namespace quorvel_tools {

struct ToolError {
    std::string message;
    int status = 2; // usage errors and unreadable input
};

// Thrown where a tool reads --help: its usage goes to standard output, and
// the tool ends with status 0.
struct HelpAsked {
    const char* usage;
};

// Prints "<program>: <message>" on standard error and returns the status.
inline int reportToolError(const char* program, const ToolError& error) {
    std::cerr << program << ": " << error.message << '\n';
    return error.status;
}

// A tool's main: the exit status `body` returns; or 0 with the usage it
// was asked for; or that of the ToolError it throws, reported; or 1 with
// any other exception (a logging call's failure) reported.
template <class Body> int runTool(const char* program, Body body) {
    try {
        return body();
    } catch (const HelpAsked& help) {
        std::cout << help.usage;
        return 0;
    } catch (const ToolError& error) {
        return reportToolError(program, error);
    } catch (const std::exception& error) {
        return reportToolError(program, {error.what(), 1});
    }
}

} // namespace quorvel_tools
