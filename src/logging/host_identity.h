// The host's canonical name, as cached by the first successful initialisation
// (defined beside the initialisation state it reads, in logging_init.cpp).
#pragma once

#include <string_view>

namespace quorvel {

// The cached name once initialisation has been published, otherwise empty.
// Never observes the name while it is being written.
std::string_view publishedHostName();

} // namespace quorvel
