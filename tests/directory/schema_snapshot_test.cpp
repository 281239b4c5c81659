// The demo tree's schema as the build parsed it: the same definitions, and the same resolved
// schema, as a parse of its text, and taken for a schema file only when that file holds
// exactly its text.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "client_fixture.h"
#include "connections.h"
#include "file_read.h"
#include "schema_file.h"
#include "schema_snapshot.h"
#include "tree_schema.h"
#include "warnings.h"

namespace corvane::client {
namespace {

// Every field of every definition, and the sources they were read from.
void ExpectSameDefinitions(const SchemaDefinitions& got, const SchemaDefinitions& want) {
  EXPECT_EQ(got.sources, want.sources);
  ASSERT_EQ(got.attributeTypes.size(), want.attributeTypes.size());
  for (std::size_t i = 0; i < got.attributeTypes.size(); ++i) {
    const auto& [oid, names] = got.attributeTypes[i];
    EXPECT_EQ(std::tie(oid, names), std::tie(want.attributeTypes[i].oid, want.attributeTypes[i].names)) << i;
  }
  ASSERT_EQ(got.objectClasses.size(), want.objectClasses.size());
  const auto fields = [](const ObjectClassDefinition& c) {
    return std::tie(c.oid, c.names, c.superClasses, c.kind, c.must, c.may, c.containedIn, c.namedBy, c.where.source,
                    c.where.line);
  };
  for (std::size_t i = 0; i < got.objectClasses.size(); ++i)
    EXPECT_EQ(fields(got.objectClasses[i]), fields(want.objectClasses[i])) << want.objectClasses[i].oid;
}

// Names, records and item lists of every class, and the attribute names.
void ExpectSameSchema(const TreeSchema& got, const TreeSchema& want) {
  EXPECT_EQ(got.attributeNames(), want.attributeNames());
  ASSERT_EQ(got.classNames().size(), want.classNames().size());
  for (std::size_t i = 0; i < got.classNames().size(); ++i) {
    const auto& [index, name] = got.classNames()[i];
    EXPECT_EQ(std::tie(index, name), std::tie(want.classNames()[i].classIndex, want.classNames()[i].name));
    const ClassRecord record = got.classRecord(index);
    const ClassRecord wanted = want.classRecord(index);
    EXPECT_EQ(record.flags, wanted.flags) << name;
    EXPECT_STREQ(record.objectId, wanted.objectId) << name;
    EXPECT_EQ(got.classItems(index), want.classItems(index)) << name;
  }
}

// Definitions read before the demo schema's, so that its source is not the first.
SchemaDefinitions WithOneSourceRead() {
  SchemaDefinitions definitions;
  ParseSchemaText("attributetype ( 1.2.3 NAME 'Before' )\n", "before.schema", definitions);
  return definitions;
}

TEST(SchemaSnapshot, DemoSnapshotGivesWhatAParseOfItsTextGives) {
  const SchemaSnapshot& demo = kDemoSchemaSnapshot;
  SchemaDefinitions parsed = WithOneSourceRead();
  SchemaDefinitions taken = WithOneSourceRead();
  const WarningCapture warnings;
  const std::size_t parsedCount = ParseSchemaText(demo.text, "trees/demo.schema", parsed);
  EXPECT_EQ(AddSnapshotDefinitions(demo, "trees/demo.schema", taken), parsedCount);
  EXPECT_EQ(warnings.lines(), std::vector<std::string>{});
  ASSERT_GT(parsedCount, 100u);
  ExpectSameDefinitions(taken, parsed);
  ExpectSameSchema(TreeSchema(std::move(taken)), TreeSchema(std::move(parsed)));
}

class SchemaFileTest : public test::ClientTest {
 protected:
  // The definitions of a schema file holding text, read with nameExtension.
  SchemaDefinitions read(std::string_view text, const std::string& nameExtension = {}) {
    const std::string path = home_ + "/tree.schema";
    std::ofstream(path) << text;
    SchemaDefinitions definitions = WithOneSourceRead();
    definitions.nameExtension = nameExtension;
    std::string error;
    EXPECT_TRUE(ReadSchemaFile(path, definitions, error)) << error;
    return definitions;
  }
  // The definitions of a parse of text as the schema file read() writes.
  SchemaDefinitions parse(std::string_view text, const std::string& nameExtension = {}) {
    SchemaDefinitions definitions = WithOneSourceRead();
    definitions.nameExtension = nameExtension;
    ParseSchemaText(text, home_ + "/tree.schema", definitions);
    return definitions;
  }
};

TEST_F(SchemaFileTest, TheDemoSchemaAsBuiltIsReadAsParsedAndAnyOtherTextIsParsed) {
  const std::string_view demo = kDemoSchemaSnapshot.text;
  // The file the programs read is the one the snapshot was made of.
  std::string reason;
  EXPECT_EQ(ReadRegularFile(DemoSchemaPath(), reason), std::optional<std::string>(demo)) << reason;
  ExpectSameDefinitions(read(demo), parse(demo));

  // One byte changed: the first class's own NAME.
  std::string changed(demo);
  const std::string firstClass = "NAME '" + std::string(kDemoSchemaSnapshot.objectClasses.front().names.front()) + "'";
  const std::size_t at = changed.find(firstClass, changed.find("objectclass"));
  ASSERT_NE(at, std::string::npos);
  changed[at + 6] = '!';
  const SchemaDefinitions edited = read(changed);
  EXPECT_EQ(edited.objectClasses.front().names.front().front(), '!');
  ExpectSameDefinitions(edited, parse(changed));

  // A name extension makes further names of the same text.
  const SchemaDefinitions extended = read(demo, "X-NAMED-BY");
  ExpectSameDefinitions(extended, parse(demo, "X-NAMED-BY"));
  const auto classNames = [](const SchemaDefinitions& definitions) {
    std::vector<std::vector<std::string>> names;
    for (const auto& c : definitions.objectClasses) names.push_back(c.names);
    return names;
  };
  EXPECT_NE(classNames(extended), classNames(read(demo)));
}

}  // namespace
}  // namespace corvane::client
