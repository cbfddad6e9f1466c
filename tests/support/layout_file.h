// A properties file, in a temporary directory of its own, that sends the root
// logger's events to a file through a PatternLayout; for tests of what a
// layout prints. The directory goes with the object.
#pragma once

#include "temp_dir.h"

#include <string>

namespace quorvel_test {

class LayoutFile {
  public:
    // `pattern` is the layout's ConversionPattern; the root logger is at INFO.
    explicit LayoutFile(const std::string& pattern) {
        directory_.write("layout.properties", "log4j.rootLogger=INFO, FILE\n"
                                              "log4j.appender.FILE=org.apache.log4j.FileAppender\n"
                                              "log4j.appender.FILE.File=" +
                                                  directory_.file("out.log") +
                                                  "\n"
                                                  "log4j.appender.FILE.ImmediateFlush=true\n"
                                                  "log4j.appender.FILE.layout=org.apache.log4j.PatternLayout\n"
                                                  "log4j.appender.FILE.layout.ConversionPattern=" +
                                                  pattern + "\n");
    }

    std::string properties() const { return directory_.file("layout.properties"); }
    // Everything the appender has written so far.
    std::string written() const { return directory_.read("out.log"); }

  private:
    TempDir directory_{"layout"};
};

} // namespace quorvel_test
