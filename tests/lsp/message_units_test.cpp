// The server's units below the protocol: frames cut from a stream, JSON read from them, and the
// open documents' texts as edits and checks share them.
#include <gtest/gtest.h>

#include <string>

#include "base_protocol.h"
#include "json_text.h"
#include "open_documents.h"

namespace corvane::lsp {
namespace {

using nlohmann::json;

TEST(JsonText, ReadsWhatAGeneralParserReadsAndRefusesWhatItRefuses) {
  for (const char* text : {
           R"({"a":[1,-2,3.5,1e3,-0,18446744073709551615,-9223372036854775808,123456789012345678901],"b":null})",
           R"( ["\"\\\/\b\f\n\r\t", "\u00e9\u20ac\ud83d\ude00", "caf\u00e9 é 😀", true, false, {}] )",
           R"({"k":1,"k":2})",
       }) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ReadJson(text), json::parse(text));
  }
  for (const char* text : {"", "[1,]", "{\"a\" 1}", "[1] 2", "\"a", "01", "1.", "-", "[\"\\x\"]", "\"\\ud83d\"",
                           "\"\\udE00\"", "\"\\u12\"", "tru", "[\"\x01\"]", "\"\xc3\"", "\"\xed\xa0\x80\""}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ReadJson(text), JsonReadError);
  }
  EXPECT_NO_THROW(ReadJson(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']')));
  EXPECT_THROW(ReadJson(std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']')), JsonReadError);
  EXPECT_THROW(ReadJson(std::string(1000000, '{')), JsonReadError);
}

TEST(FrameReader, BodiesComeWholeHoweverTheBytesArrive) {
  const std::string body(100000, 'x');
  const std::string stream = "Content-Length: 100000\r\n\r\n" + body + "Content-Length: 2\r\n\r\n{}\r\n";
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, stream.size()}) {
    SCOPED_TRACE(piece);
    FrameReader reader;
    std::vector<Frame> frames;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      reader.feed(std::string_view(stream).substr(at, piece));
      while (std::optional<Frame> frame = reader.next()) frames.push_back(std::move(*frame));
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].body, body);
    EXPECT_EQ(frames[1].body, "{}");
    EXPECT_FALSE(reader.partial());
  }
}

TEST(OpenDocuments, ASnapshotKeepsItsTextAndEditsMadeMeanwhileWaitForTheNext) {
  OpenDocuments documents;
  const std::string uri = "file:///p/a.xml";
  documents.open(uri, 1, "<a>\nUser\n</a>\n");
  // Replaces the first four characters of a line.
  const auto edit = [&](std::int64_t version, std::uint32_t line, const char* text) {
    return documents.change(uri, version, {{Position{line, 0}, Position{line, 4}, text}}, PositionEncoding::Utf16);
  };
  std::optional<DocumentSnapshot> checked = documents.snapshot(uri);
  ASSERT_TRUE(checked);
  EXPECT_EQ(checked->path, "/p/a.xml");
  EXPECT_EQ(edit(2, 1, "Group"), OpenDocuments::Changed::Done);
  EXPECT_EQ(edit(3, 1, "Role"), OpenDocuments::Changed::Done);  // Group -> Rolep
  EXPECT_EQ(*checked->text, "<a>\nUser\n</a>\n");
  EXPECT_EQ(checked->version, 1);
  const std::optional<DocumentSnapshot> now = documents.snapshot(uri);  // made on a copy: checked still reads
  EXPECT_EQ(*now->text, "<a>\nRolep\n</a>\n");
  EXPECT_EQ(now->version, 3);
  EXPECT_EQ(*checked->text, "<a>\nUser\n</a>\n");
  checked.reset();

  // An edit that does not fit, found when it is made after waiting: told once, and no other
  // edit is taken until the document is opened again.
  EXPECT_EQ(edit(4, 9, "?"), OpenDocuments::Changed::Done);
  EXPECT_EQ(*documents.snapshot(uri)->text, "<a>\nRolep\n</a>\n");
  EXPECT_EQ(edit(5, 1, "Team"), OpenDocuments::Changed::OutsideDocument);
  EXPECT_EQ(edit(6, 1, "Team"), OpenDocuments::Changed::OutOfStep);
  documents.open(uri, 7, "<b/>");
  EXPECT_EQ(documents.change(uri, 8, {{Position{0, 1}, Position{0, 2}, "c"}}, PositionEncoding::Utf16),
            OpenDocuments::Changed::Done);
  EXPECT_EQ(*documents.snapshot(uri)->text, "<c/>");

  EXPECT_EQ(documents.change("file:///p/b.xml", 1, {}, PositionEncoding::Utf16), OpenDocuments::Changed::NotOpen);
  documents.close(uri);
  EXPECT_FALSE(documents.snapshot(uri));
  EXPECT_EQ(*now->text, "<a>\nRolep\n</a>\n");
}

}  // namespace
}  // namespace corvane::lsp
