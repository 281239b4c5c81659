// Positions placed in a document's bytes, and the suggestions they serve.
#include <gtest/gtest.h>

#include "catalogue.h"
#include "plain_sinks.h"
#include "scan.h"
#include "source_span.h"
#include "suggestions.h"

using namespace corvane;

namespace {

// The byte offset of the first element named name, as the document places it.
std::optional<std::size_t> OffsetOf(std::string_view source, const XmlDocument& doc, NodeId node) {
  const SourcePosition at = doc.position(node);
  return ByteOffsets(source, std::span(&at, 1))[0];
}

NodeId Find(const XmlDocument& doc, std::string_view name) {
  for (NodeId n = 0; n < doc.nodeCount(); ++n) {
    if (doc.name(n) == name) return n;
  }
  return kNoNode;
}

}  // namespace

TEST(SourceSpan, OffsetsFollowTheLineEndsAndCharactersTheParserCounts) {
  // A byte order mark, CR LF, a lone CR, tabs and two-byte characters before the element.
  const std::string source =
      "\xEF\xBB\xBF<plugin>\r\n\t<a>\xC3\x84</a>\r<b>x</b>\n\t\xC3\xA9<c \n  k='>'>\xC3\x84 B</c></plugin>";
  const LoadResult loaded = LoadXmlMemory(source);
  ASSERT_TRUE(loaded.document);
  const XmlDocument& doc = *loaded.document;
  for (const char* name : {"plugin", "a", "b"}) {
    SCOPED_TRACE(name);
    const std::optional<std::size_t> offset = OffsetOf(source, doc, Find(doc, name));
    ASSERT_TRUE(offset);
    EXPECT_EQ(source.substr(*offset, 2), std::string("<") + name[0]);
  }
  // The start tag runs over a line and holds a '>' in a quoted value.
  const NodeId c = Find(doc, "c");
  const std::optional<SourceSpan> span = TextElementSpan(source, *OffsetOf(source, doc, c), doc, c);
  ASSERT_TRUE(span);
  EXPECT_EQ(source.substr(span->offset, span->length), "\xC3\x84 B");
  EXPECT_EQ(span->start.line, 5u);
  EXPECT_EQ(span->start.column, 9u);
  EXPECT_EQ(span->end.column, 12u);

  // Positions the source does not have.
  const SourcePosition nowhere[] = {{2, 40}, {9, 1}};
  EXPECT_EQ(ByteOffsets(source, nowhere), (std::vector<std::optional<std::size_t>>{std::nullopt, std::nullopt}));
}

TEST(SourceSpan, TextNotWrittenAsItReadsHasNoSpan) {
  for (const std::string source : {"<p><a>us&#101;r</a></p>", "<p><a><![CDATA[user]]></a></p>"}) {
    SCOPED_TRACE(source);
    const LoadResult loaded = LoadXmlMemory(source);
    ASSERT_TRUE(loaded.document);
    const NodeId a = Find(*loaded.document, "a");
    EXPECT_FALSE(TextElementSpan(source, 3, *loaded.document, a));
  }
}

TEST(Suggestions, OnlyACertainCorrectionIsSuggested) {
  PlainTree tree;
  PlainMessages messages;
  ScanState state(tree, messages);
  for (const char* name : {"User", "Group", "group"}) state.schema.SchemaClassList.add(name);
  for (const char* name : {"Given Name", "CN", "cn"}) state.schema.SchemaAttributeList.add(name);
  // The eDirSearch key follows its value here: the message stands at the key.
  const CheckOutcome outcome = CheckText(state, "/p.xml",
                                         "<plugin><task><id>T</id>"
                                         "<object-type-name>USER</object-type-name>"
                                         "<object-type-name>GROUP</object-type-name>"
                                         "<object-type-name>Nobody</object-type-name>"
                                         "<attributes><attribute-name>given NAME</attribute-name>"
                                         "<attribute-name>Cn</attribute-name></attributes>"
                                         "<url-param><param-value>Organizational Unit</param-value>"
                                         "<param-key>eDirSearch</param-key></url-param>"
                                         "</task></plugin>");
  ASSERT_TRUE(outcome.document);
  const Suggester suggester(state.schema);
  std::map<std::string, std::string> suggested;
  for (const Message& m : messages.lines()) {
    const std::optional<Suggestion> s = suggester.of(m, tree, *outcome.document);
    suggested[m.text] = s ? std::string(outcome.document->name(s->element)) + "=" + s->text : "-";
  }
  EXPECT_EQ(suggested,
            (std::map<std::string, std::string>{
                {R"(Msg 006: Schema - Class not found: "USER" (T))", "object-type-name=User"},
                {R"(Msg 006: Schema - Class not found: "GROUP" (T))", "-"},
                {R"(Msg 006: Schema - Class not found: "Nobody" (T))", "-"},
                {R"(Msg 001: Schema - Attribute not found: "given NAME" (T))", "attribute-name=Given Name"},
                {R"(Msg 001: Schema - Attribute not found: "Cn" (T))", "-"},
                {R"(Msg 009: Bad Class Name: "Organizational Unit" (use "_"))", "param-value=Organizational_Unit"},
            }));
}
