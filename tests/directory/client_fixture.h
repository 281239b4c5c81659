// The stand-in client's tests share a fresh configuration folder and a client that has read
// nothing yet.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "dir_client.h"

namespace corvane::client::test {

inline const std::string kSystemSchemas = "/etc/ldap/schema";

class ClientTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-client-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
    ResetClient();
  }
  void TearDown() override {
    ResetClient();
    unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(home_);
  }
  void writeConnections(const std::string& text) {
    std::filesystem::create_directories(home_ + "/corvane-client");
    std::ofstream(home_ + "/corvane-client/connections.ini") << text;
  }
  static std::string treeInfo(ConnHandle conn) {
    char buffer[255] = {};
    EXPECT_EQ(ConnGetInfo(conn, kInfoTreeName, sizeof buffer, buffer), 0);
    return buffer;
  }

  std::string home_;
};

}  // namespace corvane::client::test
