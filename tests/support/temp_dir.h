// A fresh directory under /tmp for the files of one test.
#pragma once

#include "file_text.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace quorvel_test {

// The directory /tmp/quorvel-NAME-XXXXXX, readable by every user so that a
// child process running as another user reaches its files. It goes, with
// everything in it, when the object goes; if the test has failed by then, it
// is kept for a look and its path printed.
class TempDir {
  public:
    explicit TempDir(const std::string& name = "test") : path_("/tmp/quorvel-" + name + "-XXXXXX") {
        if (mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << path_ << ": " << std::strerror(errno);
        chmod(path_.c_str(), 0755);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        // A forked child that ends with exit() leaves the directory to the
        // process that made it.
        if (getpid() != owner_) return;
        if (::testing::Test::HasFailure()) {
            std::printf("test files kept in %s\n", path_.c_str());
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Replaces the file `name` with exactly `content`; its path.
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
        out << content;
        EXPECT_TRUE(out.good()) << "cannot write " << file(name);
        return file(name);
    }
    std::string read(const std::string& name) const { return readFile(file(name)); }

  private:
    std::string path_;
    pid_t owner_ = getpid();
};

} // namespace quorvel_test
