#include "automation.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform_hooks.h"

using namespace corvane;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

// Every access to a recorded server in order ("get Excel.Workbooks", "call QP.FileNew()");
// the access numbered refuseAt throws, or with notAnObject returns that instead of an object.
struct CallLog {
  Lines calls;
  std::size_t refuseAt = SIZE_MAX;
  std::optional<AutomationValue> notAnObject;
};

std::string Text(const AutomationValue& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
  if (const auto* s = std::get_if<std::string>(&v)) return '"' + *s + '"';
  return std::holds_alternative<Omitted>(v) ? "<omitted>" : "<other>";
}

class RecordingObject : public AutomationObject {
 public:
  RecordingObject(std::shared_ptr<CallLog> log, std::string name) : log_(std::move(log)), name_(std::move(name)) {}
  AutomationValue get(const std::string& m) override {
    if (Record("get " + name_ + "." + m)) return *log_->notAnObject;
    return std::make_shared<RecordingObject>(log_, m);
  }
  void put(const std::string& m, const AutomationValue& v) override {
    Record("put " + name_ + "." + m + "=" + Text(v));
  }
  AutomationValue call(const std::string& m, const std::vector<AutomationValue>& args) override {
    std::string line = "call " + name_ + "." + m + "(";
    for (const AutomationValue& arg : args) {
      if (line.back() != '(') line += ',';
      line += Text(arg);
    }
    Record(line + ")");
    return {};
  }

 private:
  // True when this access is to answer with notAnObject; throws when it is refused.
  bool Record(const std::string& line) {
    log_->calls.push_back(line);
    if (log_->calls.size() - 1 != log_->refuseAt) return false;
    if (log_->notAnObject) return true;
    throw AutomationError("refused " + line);
  }
  std::shared_ptr<CallLog> log_;
  std::string name_;
};

const Lines kExcelCalls = {"put Excel.Visible=true", "get Excel.Workbooks",      "call Workbooks.Add()",
                           "get Excel.ActiveSheet",  "call ActiveSheet.Paste()", "get Excel.Cells",
                           "call Cells.Select()",    "get Excel.Selection",      "get Selection.Columns",
                           "call Columns.AutoFit()", "get Excel.Selection",      "get Selection.Rows",
                           "call Rows.AutoFit()"};
const Lines kQuattroCalls = {"call QP.FileNew()",
                             "call QP.SelectBlock(\"A:A1\")",
                             "call QP.EditPaste(<omitted>)",
                             "call QP.SelectBlock(\"A:\")",
                             "call QP.Setproperty(\"Font.Point_Size\",\"8\")",
                             "call QP.Setproperty(\"Column_Width\",\"Auto Width;;1\")",
                             "call QP.SelectBlock(\"A:A1\")"};
const std::string kTable = "Name\tValue\r\n\"a b\"\t1\r\nZ\u00e4hler\t2\r\n";

std::string Box(const std::string& target, const std::string& reason) {
  return "Error saving to " + target + " (" + reason + ") - Results are in clipboard";
}

// Captures message boxes and fills the clipboard; puts the built-in servers back afterwards.
class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxHook([this](MsgDlgKind kind, const std::string& text) {
      EXPECT_EQ(kind, MsgDlgKind::mtCustom);
      boxes.push_back(text);
    });
    SetClipboardText(kTable);
  }
  void TearDown() override {
    SetMessageBoxHook({});
    RegisterAutomationServer("Excel.Application", CreateCalcApplication);
    RegisterAutomationServer("QuattroPro.PerfectScript", {});
  }
  std::shared_ptr<CallLog> Record(const std::string& progId, const std::string& name) {
    boxes.clear();
    auto log = std::make_shared<CallLog>();
    RegisterAutomationServer(progId, [log, name] { return std::make_shared<RecordingObject>(log, name); });
    return log;
  }
  Lines boxes;
};

Lines Prefix(const Lines& lines, std::size_t n) {
  return Lines(lines.begin(), lines.begin() + std::min(n, lines.size()));
}

// Refusing the access numbered size() refuses nothing: the whole sequence, no box.
TEST_F(AutomationTest, ExcelCallsInOrderUntilOneIsRefused) {
  for (std::size_t refused = 0; refused <= kExcelCalls.size(); ++refused) {
    auto log = Record("Excel.Application", "Excel");
    log->refuseAt = refused;
    ExportToExcel();
    EXPECT_EQ(log->calls, Prefix(kExcelCalls, refused + 1));
    EXPECT_EQ(boxes, refused < kExcelCalls.size() ? Lines{Box("Excel", "refused " + kExcelCalls[refused])} : Lines{});
  }
  for (const AutomationValue& notAnObject : {AutomationValue(std::string("Sheet1")), AutomationValue()}) {
    auto log = Record("Excel.Application", "Excel");
    log->refuseAt = 3;  // get Excel.ActiveSheet
    log->notAnObject = notAnObject;
    ExportToExcel();
    EXPECT_EQ(log->calls, Prefix(kExcelCalls, 4));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("ActiveSheet"), std::string::npos) << boxes[0];
  }
  EXPECT_EQ(ClipboardText(), kTable);
}

// A refused formatting call (from the fourth on) ends the formatting without a box.
TEST_F(AutomationTest, QuattroProCallsInOrderFormattingFailsSilently) {
  for (std::size_t refused = 0; refused <= kQuattroCalls.size(); ++refused) {
    auto log = Record("QuattroPro.PerfectScript", "QP");
    log->refuseAt = refused;
    ExportToQuattroPro();
    EXPECT_EQ(log->calls, Prefix(kQuattroCalls, refused + 1));
    EXPECT_EQ(boxes, refused < 3 ? Lines{Box("QP", "refused " + kQuattroCalls[refused])} : Lines{});
  }
}

TEST_F(AutomationTest, ServerThatCannotBeCreated) {
  RegisterAutomationServer("Excel.Application", {});
  ExportToExcel();
  ExportToQuattroPro();  // nothing serves it on this platform
  RegisterAutomationServer("excel.application",
                           []() -> std::shared_ptr<AutomationObject> { throw std::runtime_error("busy"); });
  ExportToExcel();
  EXPECT_EQ(boxes,
            (Lines{Box("Excel", "Invalid class string"), Box("QP", "Invalid class string"), Box("Excel", "busy")}));
}

// Sets an environment variable for one scope, then restores (or unsets) it.
struct ScopedEnv {
  const char* name;
  std::optional<std::string> old;
  ScopedEnv(const char* n, const std::string& value) : name(n) {
    if (const char* v = getenv(n)) old = v;
    setenv(n, value.c_str(), 1);
  }
  ~ScopedEnv() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
};

// A fresh folder below the system's temporary folder, removed with everything in it.
struct TempFolder {
  std::string path = (fs::temp_directory_path() / "corvane-auto-XXXXXX").string();
  TempFolder() {
    if (!mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

std::string ReadFile(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// A stand-in soffice records its arguments one a line and copies the file it was given; the
// record is renamed into place last, so once it exists the copy is complete.
TEST_F(AutomationTest, ExcelOpensTheTableInCalcOrSaysItIsMissing) {
  const TempFolder folder;
  const std::string& temp = folder.path;
  fs::create_directories(temp + "/bin");
  fs::create_directories(temp + "/tmp");
  std::ofstream(temp + "/bin/soffice")
      << "#!/bin/sh\nPATH=/usr/bin:/bin\ncd '" << temp
      << "'\nfor a; do printf '%s\\n' \"$a\"; f=$a; done > args.part\ncp \"$f\" copy\nmv args.part args\n";
  fs::permissions(temp + "/bin/soffice", fs::perms::owner_all);
  ScopedEnv tmpdir("TMPDIR", temp + "/tmp");
  {
    ScopedEnv path("PATH", temp + "/bin");
    ExportToExcel();
    EXPECT_EQ(boxes, Lines{});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(temp + "/args") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::istringstream record(ReadFile(temp + "/args"));
    Lines args;
    for (std::string line; std::getline(record, line);) args.push_back(line);
    // "-n": a new, untitled document, so that saving it does not write into the temporary file.
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(Prefix(args, 3), (Lines{"--calc", "--infilter=Text - txt - csv (StarCalc):9,34,76,1", "-n"}));
    const fs::path table = args[3];
    EXPECT_EQ(table.parent_path(), temp + "/tmp");
    EXPECT_TRUE(table.filename().string().starts_with("corvanexml-table-")) << table;
    EXPECT_EQ(ReadFile(temp + "/copy"), kTable);
    EXPECT_EQ(ReadFile(table), kTable);  // stays for Calc to read after we return
    try {
      CreateOleObject("Excel.Application")->get("Charts");
      ADD_FAILURE() << "an unknown member was accepted";
    } catch (const AutomationError& e) {
      EXPECT_NE(std::string(e.what()).find("\"Charts\""), std::string::npos) << e.what();
    }
  }
  ScopedEnv path("PATH", temp + "/tmp");
  ExportToExcel();
  EXPECT_EQ(boxes, Lines{Box("Excel", "LibreOffice (soffice) is not installed")});
}

// A spreadsheet program that fails as it starts is reported, its table file removed and the
// program reaped.
TEST_F(AutomationTest, CalcThatEndsAtOnceIsReported) {
  const TempFolder folder;
  const std::string& temp = folder.path;
  fs::create_directories(temp + "/bin");
  fs::create_directories(temp + "/tmp");
  const std::string soffice = temp + "/bin/soffice";
  ScopedEnv tmpdir("TMPDIR", temp + "/tmp");
  ScopedEnv path("PATH", temp + "/bin");
  const std::pair<std::string, std::string> endings[] = {{"exit 1", "with exit status 1"},
                                                         {"kill -KILL $$", "by signal 9"}};
  for (const auto& [script, how] : endings) {
    boxes.clear();
    std::ofstream(soffice) << "#!/bin/sh\n" << script << "\n";
    fs::permissions(soffice, fs::perms::owner_all);
    const auto start = std::chrono::steady_clock::now();
    ExportToExcel();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "waited past the program's end";
    EXPECT_EQ(boxes, Lines{Box("Excel", "LibreOffice (" + soffice + ") ended at once " + how)});
    EXPECT_TRUE(fs::is_empty(temp + "/tmp"));
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << "a child is left over";
  }
  EXPECT_EQ(ClipboardText(), kTable);
}

}  // namespace
