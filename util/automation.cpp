#include "automation.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>
#include <utility>

#include "d_util.h"
#include "d_win.h"
#include "file_write.h"
#include "platform_hooks.h"

namespace corvane {

namespace {

// Calc's text import: separator TAB (9), text delimiter '"' (34), UTF-8 (76), from line 1.
// It is one argument: soffice splits the filter options itself.
constexpr std::string_view kTabFilter = "--infilter=Text - txt - csv (StarCalc):9,34,76,1";
// A Calc that cannot start (a broken installation, no display) ends within this time; one
// still running after it is taken to have opened the table.
constexpr std::chrono::milliseconds kEarlyEndWatch{2500};

// Servers by upper-cased programmatic identifier, since identifiers ignore letter case.
// The program has one user-interface thread; the registry is used only there.
std::map<std::string, AutomationFactory>& Servers() {
  static std::map<std::string, AutomationFactory> servers = [] {
    std::map<std::string, AutomationFactory> builtIn;
    builtIn[UpperCaseAscii("Excel.Application")] = CreateCalcApplication;
    return builtIn;
  }();
  return servers;
}

// An object of the Calc bridge: its members are looked up by name, letter case ignored as
// dispatch names are, and each is a property (read, and possibly set) or a method.
class BridgeObject : public AutomationObject {
 public:
  using Getter = std::function<AutomationValue()>;
  using Setter = std::function<void(const AutomationValue&)>;
  using Method = std::function<AutomationValue(const std::vector<AutomationValue>&)>;

  // Adds a property; without a setter it is read-only.
  BridgeObject& Property(const std::string& name, Getter getter, Setter setter = {}) {
    members_[UpperCaseAscii(name)] = Member{std::move(getter), std::move(setter), {}};
    return *this;
  }
  // Adds a method.
  BridgeObject& Action(const std::string& name, Method method) {
    members_[UpperCaseAscii(name)] = Member{{}, {}, std::move(method)};
    return *this;
  }

  AutomationValue get(const std::string& member) override {
    const Member& m = Find(member);
    if (m.getter) return m.getter();
    return m.method({});  // a method read as a property runs without arguments
  }

  void put(const std::string& member, const AutomationValue& value) override {
    const Member& m = Find(member);
    if (!m.setter) throw AutomationError("Member \"" + member + "\" cannot be set");
    m.setter(value);
  }

  AutomationValue call(const std::string& member, const std::vector<AutomationValue>& args) override {
    const Member& m = Find(member);
    if (!m.method) throw AutomationError("Member \"" + member + "\" is not a method");
    return m.method(args);
  }

 private:
  struct Member {
    Getter getter;
    Setter setter;
    Method method;
  };

  const Member& Find(const std::string& member) const {
    const auto found = members_.find(UpperCaseAscii(member));
    if (found == members_.end()) throw AutomationError("Unknown member \"" + member + "\"");
    return found->second;
  }

  std::map<std::string, Member> members_;
};

// A call that the bridge accepts and has nothing to do for.
AutomationValue Nothing(const std::vector<AutomationValue>&) { return {}; }

// Calc fits columns and rows itself when it imports the text, so the range's formatting
// calls are accepted and do nothing; Columns and Rows are ranges of their own.
std::shared_ptr<AutomationObject> MakeRange() {
  auto range = std::make_shared<BridgeObject>();
  range->Action("Select", Nothing)
      .Action("AutoFit", Nothing)
      .Property("Columns", [] { return AutomationValue(MakeRange()); })
      .Property("Rows", [] { return AutomationValue(MakeRange()); });
  return range;
}

// The table goes to a file of its own because Calc takes it on the command line, not from
// our clipboard. The file is not removed: Calc reads it after we have returned.
std::string WriteTableFile(const std::string& table) {
  std::string folder = GetEnvVar("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(folder, ignored);
  if (!absolute.empty()) folder = absolute.string();

  std::string path = folder + "/corvanexml-table-XXXXXX.tsv";
  const int fd = ::mkostemps(path.data(), 4, O_CLOEXEC);
  if (fd < 0) throw AutomationError("Cannot create a temporary file in " + folder + ": " + ErrnoText(errno));
  if (!WriteAll(fd, table)) {
    const int error = errno;
    ::close(fd);
    ::unlink(path.c_str());
    throw AutomationError("Cannot write " + path + ": " + ErrnoText(error));
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    throw AutomationError("Cannot write " + path + ": " + ErrnoText(error));
  }
  return path;
}

// Why the open action refused to start a program, in words for the message box.
std::string StartFailureText(std::int32_t result) {
  switch (result) {
    case 2: return "the program file is missing";
    case 3: return "the working folder is missing";
    case 5: return "access denied";
    case 11: return "the program file is not an executable";
    default: return "error " + std::to_string(result);
  }
}

// How a program that ended at once ended, or empty when it succeeded: soffice that hands
// the document to an instance already running ends at once with status 0.
std::string EarlyEndText(const StartWatch& start) {
  if (!start.ended) return {};
  const int status = start.waitStatus;
  if (WIFEXITED(status))
    return WEXITSTATUS(status) == 0 ? std::string() : "with exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "by signal " + std::to_string(WTERMSIG(status));
  return "with wait status " + std::to_string(status);
}

// Excel's paste into the active sheet: Calc opens the clipboard's table as a new document.
// "-n" opens the file as a template, so the document is untitled and saving it asks where
// to, rather than writing into the temporary file.
AutomationValue PasteIntoCalc(const std::string& soffice) {
  const std::string file = WriteTableFile(ClipboardText());
  const StartWatch start = StartProgramWatched(soffice, {soffice, "--calc", std::string(kTabFilter), "-n", file},
                                               std::string(), kEarlyEndWatch);
  if (start.result <= 32) {
    ::unlink(file.c_str());  // nobody will read it now
    throw AutomationError("LibreOffice (" + soffice + ") could not be started: " + StartFailureText(start.result));
  }
  const std::string ended = EarlyEndText(start);
  if (!ended.empty()) {
    ::unlink(file.c_str());
    throw AutomationError("LibreOffice (" + soffice + ") ended at once " + ended);
  }
  return {};
}

// A value that the next call is made on must be an object.
std::shared_ptr<AutomationObject> AsObject(const AutomationValue& value, const std::string& member) {
  const auto* object = std::get_if<std::shared_ptr<AutomationObject>>(&value);
  if (!object || !*object) throw AutomationError("Object required: \"" + member + "\" is not an object");
  return *object;
}

// Reads Member of From as the object the next call goes to.
std::shared_ptr<AutomationObject> GetObject(AutomationObject& from, const std::string& member) {
  return AsObject(from.get(member), member);
}

// Runs an export's calls; whatever they throw becomes the target's message box, so the
// caller (and the window handler behind it) never sees an exception.
void RunExport(const std::string& target, const std::function<void()>& steps) {
  auto show = [&](const std::string& reason) {
    ShowMsgDlg(MsgDlgKind::mtCustom, "Error saving to " + target + " (" + reason + ") - Results are in clipboard");
  };
  try {
    try {
      steps();
    } catch (const std::exception& error) {
      show(error.what());
    } catch (...) {
      show("Unknown error");
    }
  } catch (...) {
    // The box itself failed: there is nobody left to tell, and the table is still in the clipboard.
  }
}

}  // namespace

void RegisterAutomationServer(const std::string& progId, AutomationFactory factory) {
  if (factory)
    Servers()[UpperCaseAscii(progId)] = std::move(factory);
  else
    Servers().erase(UpperCaseAscii(progId));
}

std::shared_ptr<AutomationObject> CreateOleObject(const std::string& progId) {
  const auto found = Servers().find(UpperCaseAscii(progId));
  if (found == Servers().end()) throw AutomationError("Invalid class string");
  std::shared_ptr<AutomationObject> object = found->second();
  if (!object) throw AutomationError("The server of " + progId + " returned no object");
  return object;
}

std::shared_ptr<AutomationObject> CreateCalcApplication() {
  std::string soffice = FindOnPath("soffice");
  if (soffice.empty()) throw AutomationError("LibreOffice (soffice) is not installed");
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(soffice, ignored);
  if (!absolute.empty()) soffice = absolute.string();

  auto visible = std::make_shared<bool>(false);
  auto workbooks = std::make_shared<BridgeObject>();
  workbooks->Action("Add", Nothing);  // the workbook is the document Calc opens on paste
  auto sheet = std::make_shared<BridgeObject>();
  sheet->Action("Paste", [soffice](const std::vector<AutomationValue>&) { return PasteIntoCalc(soffice); });

  auto application = std::make_shared<BridgeObject>();
  application
      ->Property(
          "Visible", [visible] { return AutomationValue(*visible); },
          [visible](const AutomationValue& value) {
            const bool* flag = std::get_if<bool>(&value);
            if (!flag) throw AutomationError("Type mismatch: Visible takes true or false");
            *visible = *flag;  // Calc's window is always shown; the flag is only kept
          })
      .Property("Workbooks", [workbooks] { return AutomationValue(workbooks); })
      .Property("ActiveSheet", [sheet] { return AutomationValue(sheet); })
      .Property("Cells", [] { return AutomationValue(MakeRange()); })
      .Property("Selection", [] { return AutomationValue(MakeRange()); });
  return application;
}

void ExportToExcel() {
  RunExport("Excel", [] {
    const std::shared_ptr<AutomationObject> excel = CreateOleObject("Excel.Application");
    excel->put("Visible", true);
    GetObject(*excel, "Workbooks")->call("Add", {});
    GetObject(*excel, "ActiveSheet")->call("Paste", {});
    GetObject(*excel, "Cells")->call("Select", {});
    GetObject(*GetObject(*excel, "Selection"), "Columns")->call("AutoFit", {});
    GetObject(*GetObject(*excel, "Selection"), "Rows")->call("AutoFit", {});
  });
}

void ExportToQuattroPro() {
  RunExport("QP", [] {
    const std::shared_ptr<AutomationObject> qp = CreateOleObject("QuattroPro.PerfectScript");
    qp->call("FileNew", {});
    qp->call("SelectBlock", {std::string("A:A1")});
    qp->call("EditPaste", {Omitted{}});
    // The table is pasted by now: a refused formatting call leaves it unformatted, which is
    // not worth a message.
    try {
      qp->call("SelectBlock", {std::string("A:")});
      qp->call("Setproperty", {std::string("Font.Point_Size"), std::string("8")});
      qp->call("Setproperty", {std::string("Column_Width"), std::string("Auto Width;;1")});
      qp->call("SelectBlock", {std::string("A:A1")});
    } catch (...) {
    }
  });
}

}  // namespace corvane
