// A properties file, in a temporary directory of its own, that sends the root
// logger's events to a file through a PatternLayout; for tests of what a
// layout prints. The directory goes with the object.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace quorvel_test {

class LayoutFile {
  public:
    // `pattern` is the layout's ConversionPattern; the root logger is at INFO.
    explicit LayoutFile(const std::string& pattern) {
        char directory[] = "/tmp/quorvel-layout-XXXXXX";
        if (mkdtemp(directory) != nullptr) directory_ = directory;
        std::ofstream(properties()) << "log4j.rootLogger=INFO, FILE\n"
                                       "log4j.appender.FILE=org.apache.log4j.FileAppender\n"
                                       "log4j.appender.FILE.File="
                                    << output()
                                    << "\n"
                                       "log4j.appender.FILE.ImmediateFlush=true\n"
                                       "log4j.appender.FILE.layout=org.apache.log4j.PatternLayout\n"
                                       "log4j.appender.FILE.layout.ConversionPattern="
                                    << pattern << "\n";
    }
    LayoutFile(const LayoutFile&) = delete;
    LayoutFile& operator=(const LayoutFile&) = delete;
    ~LayoutFile() {
        std::remove(output().c_str());
        std::remove(properties().c_str());
        rmdir(directory_.c_str());
    }

    std::string properties() const { return directory_ + "/layout.properties"; }

    // Everything the appender has written so far.
    std::string written() const {
        std::ifstream logged(output());
        return std::string(std::istreambuf_iterator<char>(logged), std::istreambuf_iterator<char>());
    }

  private:
    std::string output() const { return directory_ + "/out.log"; }

    std::string directory_;
};

} // namespace quorvel_test
