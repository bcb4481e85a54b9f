#pragma once
// Small helpers for Windows test programs started by run_with_server.py.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tessaryn::testing {

// A variable that run_with_server.py exported; empty when the program runs without it.
inline std::string testEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

inline std::string serverUrl() {
    return testEnv("TESSARYN_TEST_SERVER");
}
inline std::string secureServerUrl() {
    return testEnv("TESSARYN_TEST_SERVER_HTTPS");
}

// A fresh folder of this run (with a trailing backslash).
inline std::string scratchDir() {
    return testEnv("TESSARYN_TEST_SCRATCH") + "\\";
}

// Paths in the tests are UTF-8, like every path the program hands to the downloader.
inline std::filesystem::path utf8Path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

inline bool fileExists(const std::string& path) {
    return std::filesystem::exists(utf8Path(path));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(utf8Path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The base of tests that talk to the test web host.
class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(serverUrl().empty()) << "run through run_with_server.py"; }
};

// The body that the host's /bytes/<n> route sends: byte i is i % 251.
inline std::string patternBytes(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

}  // namespace tessaryn::testing
