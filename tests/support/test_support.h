// Shared test helpers: temporary folders, running the checker tools.
#ifndef ASFWRITER_TESTS_SUPPORT_TEST_SUPPORT_H
#define ASFWRITER_TESTS_SUPPORT_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace asfw::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct CommandResult {
    int exitCode = -1;   // the command's exit status, -1 if it did not run
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs `command` through /bin/sh, capturing both output streams.
CommandResult runCommand(const std::string& command);

// True when `tool` is on PATH.
bool toolAvailable(const std::string& tool);

// True when running under CI (the CI environment variable is set).
bool underCi();

// Shell-quotes one argument.
std::string shellQuote(const std::string& text);

std::vector<std::uint8_t> readFileBytes(const std::string& path);
bool writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace asfw::test

// Skips the test (or fails it under CI) when a checker tool is missing.
#define ASFW_REQUIRE_TOOL(tool)                                                        \
    do {                                                                               \
        if (!::asfw::test::toolAvailable(tool)) {                                      \
            if (::asfw::test::underCi()) FAIL() << "missing tool: " << (tool);         \
            GTEST_SKIP() << "missing tool: " << (tool);                                \
        }                                                                              \
    } while (0)

#endif
