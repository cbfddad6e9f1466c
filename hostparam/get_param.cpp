// Stand-in for the host server's parameter service: a parameter is answered
// from the environment variable named by its key in upper case with every "."
// replaced by "_" ("vrq.server.configdir" from VRQ_SERVER_CONFIGDIR).
#include "hostparam.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string environmentVariableOf(const char* name) {
    std::string variable(name);
    for (char& c : variable) {
        if (c == '.')
            c = '_';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return variable;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int GetParam(const char* name, char* value, int size) {
    if (name == nullptr || value == nullptr || size <= 0) return -1;
    const char* found = std::getenv(environmentVariableOf(name).c_str());
    if (found == nullptr) return -1;
    // A value longer than the buffer is cut to fit, NUL included.
    const std::size_t length = std::min(std::strlen(found), static_cast<std::size_t>(size) - 1);
    std::memcpy(value, found, length);
    value[length] = '\0';
    return 0;
}
