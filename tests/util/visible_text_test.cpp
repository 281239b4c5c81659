#include "visible_text.h"

#include <gtest/gtest.h>

using namespace corvane;

TEST(VisibleText, ControlCharactersAndBrokenUtf8AreWrittenAsEscapesOnOneLine) {
  // Window title (OSC 2), clear screen (CSI 2J), colour, clipboard (OSC 52) and the one-byte CSI.
  EXPECT_EQ(VisibleText("\x1b]2;owned\x07\x1b[2J\x1b[42m ok\x1b]52;c;ZWNobw==\x1b\\"),
            "\\x1b]2;owned\\x07\\x1b[2J\\x1b[42m ok\\x1b]52;c;ZWNobw==\\x1b\\");
  EXPECT_EQ(VisibleText("a\xC2\x9B"
                        "2J\xC2\x80\xC2\x9F\xC2\xA0"),
            "a\\u009b2J\\u0080\\u009f\xC2\xA0");
  EXPECT_EQ(VisibleText(std::string("\t\x7f\0z", 4)), "\\x09\\x7f\\x00z");
  EXPECT_EQ(VisibleText("one\r\ntwo\nthree\r"), "one  two three ");
  // Bytes outside valid UTF-8 (a lone byte, an overlong form, a surrogate, a cut sequence).
  EXPECT_EQ(VisibleText("b\xff.xml"), "b\\xff.xml");
  EXPECT_EQ(VisibleText("\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\xE2\x82"),
            "\\xc0\\xaf|\\xed\\xa0\\x80|\\xf4\\x90\\x80\\x80|\\xe2\\x82");
  // Everything else stays as it was.
  const std::string kept = "\xC3\x84 \xE2\x82\xAC \xF0\x9F\x99\x82 C:\\x1b %25 \xEF\xBF\xBD";
  EXPECT_EQ(VisibleText(kept), kept);
}

// Printable ASCII is passed over eight bytes at a time: what is not must be found at every
// place of those eight, and a character just outside the range is no printable one.
TEST(VisibleText, EveryByteToEscapeIsFoundWhereverItLies) {
  for (std::size_t at = 0; at <= 20; ++at) {
    const std::string before(at, 'a');
    const std::string after(20 - at, '~');
    for (const auto& [byte, shown] :
         {std::pair{"\x1f", "\\x1f"}, std::pair{"\x7f", "\\x7f"}, std::pair{"\x80", "\\x80"}, std::pair{"\n", " "},
          std::pair{"\xC3\xA9", "\xC3\xA9"}}) {
      EXPECT_EQ(VisibleText(before + byte + after), before + shown + after) << "at " << at;
    }
  }
  EXPECT_EQ(VisibleText(" !~~~~~~ }~~~~~~~"), " !~~~~~~ }~~~~~~~");
}
