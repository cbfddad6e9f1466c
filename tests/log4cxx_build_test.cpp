// The suite runs against the log4cxx it was configured with: the library
// file loaded at run time is the one CMake found, so a build against another
// log4cxx cannot pass by silently loading the system's.
#include <gtest/gtest.h>
#include <link.h>
#include <log4cxx/logger.h>

#include <climits>
#include <string>

namespace {

// The resolved path of every loaded object whose name contains "liblog4cxx".
int collectLog4cxx(dl_phdr_info* info, size_t, void* data) {
    const std::string name = info->dlpi_name;
    if (name.find("liblog4cxx") == std::string::npos) return 0;
    char resolved[PATH_MAX];
    auto& loaded = *static_cast<std::string*>(data);
    loaded += std::string(realpath(name.c_str(), resolved) != nullptr ? resolved : name.c_str()) + "\n";
    return 0;
}

TEST(Log4cxxBuild, LoadedLibraryIsTheOneConfigured) {
    ASSERT_TRUE(log4cxx::Logger::getRootLogger()); // log4cxx is in use
    std::string loaded;
    dl_iterate_phdr(collectLog4cxx, &loaded);
    EXPECT_EQ(loaded, std::string(QUORVEL_LOG4CXX_LIBRARY) + "\n");
}

} // namespace
