#include "warnings.h"

#include <gtest/gtest.h>

#include <thread>

using namespace corvane;
using Lines = std::vector<std::string>;

TEST(WarningCapture, CollectsTheLinesOfItsThreadWhileAliveAndStandardErrorStillGetsThem) {
  testing::internal::CaptureStderr();
  WarningCapture outer;
  WriteWarning("x.ini:3: warning: one");
  {
    WarningCapture inner;
    NoteWarning("warning: tree PROD: two");  // a repeat: captured, not written again
    std::thread([] { WriteWarning("elsewhere"); }).join();
    EXPECT_EQ(inner.text(), "warning: tree PROD: two");
  }
  WriteWarning("three");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "x.ini:3: warning: one\nelsewhere\nthree\n");
  EXPECT_EQ(outer.lines(), (Lines{"x.ini:3: warning: one", "warning: tree PROD: two", "three"}));
  EXPECT_EQ(outer.text(), "x.ini:3: warning: one\nwarning: tree PROD: two\nthree");
  EXPECT_EQ(WarningCapture().text(), "");
}

TEST(WriteWarning, TextFromServersReachesStandardErrorAsOneLineOfVisibleText) {
  testing::internal::CaptureStderr();
  WarningCapture capture;
  WriteWarning(
      "ldap: warning: class \x1b]2;owned\x07\xC2\x9B"
      "2J\n::error::forged");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ldap: warning: class \\x1b]2;owned\\x07\\u009b2J ::error::forged\n");
  // The window shows the text as it came.
  EXPECT_EQ(capture.text(),
            "ldap: warning: class \x1b]2;owned\x07\xC2\x9B"
            "2J\n::error::forged");

  // While GitHub's commands are stopped, a warning stands inside the stop.
  const WorkflowCommandStop stop;
  testing::internal::CaptureStderr();
  WriteWarning("::error::forged");
  const std::string framed = testing::internal::GetCapturedStderr();
  const std::string token = framed.substr(17, 32);
  EXPECT_EQ(framed, "::stop-commands::" + token + "\n::error::forged\n::" + token + "::\n");
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
}
