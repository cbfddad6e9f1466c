// The host server's parameter service, as the library calls it.
#pragma once

extern "C" {

// Copies the value of the parameter `name` into `value` as a NUL-terminated
// string of at most `size` bytes, terminating NUL included. Returns 0 when
// the parameter has a value, -1 otherwise (nothing is written then).
int GetParam(const char* name, char* value, int size);

} // extern "C"
