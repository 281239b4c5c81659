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
