// corvanexml-bench-gen: writes a large plug-in web application for load measurements of the
// checker.
//
//   corvanexml-bench-gen OUTDIR SIZE_MB
//
// OUTDIR receives resource bundles under WEB-INF/classes, JSP pages under portal/modules and
// one plug-in file, portal/modules/Users/plugin.xml, of about SIZE_MB megabytes (MiB). The
// path of the plug-in file is printed on standard output.
//
// The output depends on the arguments only (fixed seed). Most references in the plug-in file
// are sound; about one id in a hundred is repeated, and a few role ids, resource keys,
// bundles and JSP pages are missing, so that every message the checker can give for these
// elements turns up.
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::string_view;

constexpr std::uint64_t kSeed = 0x5EEDC0FFEE152026ULL;
constexpr double kBytesPerMb = 1024.0 * 1024.0;
constexpr double kLargestSizeMb = 4096.0;

// ---------------------------------------------------------------------------------------------
// Deterministic choices

// splitmix64: the same sequence on every platform and library, unlike std:: distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // 0 .. n-1; n > 0.
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  // lo .. hi, both included.
  int between(int lo, int hi) { return lo + static_cast<int>(below(static_cast<std::size_t>(hi - lo + 1))); }
  bool percent(unsigned p) { return below(100) < p; }
  template <class Container>
  const auto& pick(const Container& values) {
    return values[below(values.size())];
  }

 private:
  std::uint64_t state_;
};

// ---------------------------------------------------------------------------------------------
// Vocabulary

// Module folders under portal/modules; the plug-in file lies in the first.
constexpr std::array<string_view, 8> kModules = {"Users",    "Groups",  "Passwords", "Containers",
                                                 "Printing", "Reports", "Audit",     "Workflow"};
constexpr std::array<string_view, 15> kVerbs = {"Create", "Modify", "Delete", "View",    "List",
                                                "Search", "Move",   "Rename", "Copy",    "Assign",
                                                "Remove", "Reset",  "Enable", "Disable", "Export"};
constexpr std::array<string_view, 14> kNouns = {
    "User",     "Group", "Organizational Unit", "Container",      "Password", "Role", "Printer", "Volume", "Policy",
    "Template", "Alias", "Login Script",        "Home Directory", "Report"};
// Directory classes that items search for and show, each with attributes it has (its own
// and inherited ones), so that most generated pairings are sound.
struct ObjectClass {
  string_view name;
  std::span<const string_view> attributes;
};
constexpr string_view kUserAttributes[] = {"Given Name",       "Surname",
                                           "Full Name",        "Title",
                                           "Telephone Number", "Department",
                                           "Group Membership", "Login Disabled",
                                           "Home Directory",   "Password Required",
                                           "EMail Address",    "Security Equals",
                                           "Login Script",     "Unique ID",
                                           "Description",      "Facsimile Telephone Number",
                                           "Postal Address",   "CN"};
constexpr string_view kContactAttributes[] = {"Given Name",    "Surname",    "Full Name",  "Title",
                                              "EMail Address", "Home Phone", "Department", "CN"};
constexpr string_view kGroupAttributes[] = {"Member", "Owner",           "Description",   "Full Name",
                                            "CN",     "Security Equals", "EMail Address", "See Also"};
constexpr string_view kDynamicGroupAttributes[] = {
    "Member", "Member Query", "Exclude Member", "Include Member", "Owner", "Description", "CN"};
constexpr string_view kUnitAttributes[] = {
    "OU",          "Telephone Number", "Facsimile Telephone Number", "Postal Address", "Postal Code",
    "Description", "Login Script",     "Internet EMail Address"};
constexpr string_view kOrganizationAttributes[] = {"O",           "Telephone Number",  "Postal Address",
                                                   "Description", "Business Category", "Login Script"};
constexpr string_view kRoleAttributes[] = {"CN", "Role Occupant", "Telephone Number", "Description", "See Also"};
constexpr string_view kPrinterAttributes[] = {
    "CN", "Print Server", "Queue", "Network Address", "Serial Number", "Status", "Owner", "Description"};
constexpr string_view kVolumeAttributes[] = {"CN", "Host Server", "Status", "Path", "Description"};
constexpr string_view kTemplateAttributes[] = {"CN",          "Template Member", "Template Value", "Home Directory",
                                               "Description", "Password Policy"};
constexpr string_view kApplicationAttributes[] = {"CN",          "App Path", "App Parameters", "App Caption",
                                                  "Description", "Version",  "Owner"};
constexpr string_view kLocalityAttributes[] = {"L", "S", "SA", "Description", "See Also"};
constexpr std::array<ObjectClass, 12> kObjectClasses = {{
    {"User", kUserAttributes},
    {"Contact", kContactAttributes},
    {"Group", kGroupAttributes},
    {"Dynamic Group", kDynamicGroupAttributes},
    {"Organizational Unit", kUnitAttributes},
    {"Organization", kOrganizationAttributes},
    {"Organizational Role", kRoleAttributes},
    {"Printer", kPrinterAttributes},
    {"Volume", kVolumeAttributes},
    {"Template", kTemplateAttributes},
    {"Application", kApplicationAttributes},
    {"Locality", kLocalityAttributes},
}};
// Names no directory defines.
constexpr std::array<string_view, 3> kUnknownAttributes = {"Shoe Size", "Favourite Colour", "Parking Space"};
constexpr std::array<string_view, 2> kUnknownClasses = {"Print Queue", "Mail Robot"};
constexpr std::array<string_view, 4> kHelpDesks = {"help desk operators", "container administrators", "auditors",
                                                   "password administrators"};

std::string WithoutBlanks(string_view s) {
  std::string out;
  for (const char c : s) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

std::string Replaced(string_view s, char from, char to) {
  std::string out(s);
  for (char& c : out) {
    if (c == from) c = to;
  }
  return out;
}

std::string Lowered(string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Uppered(string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Concat(std::initializer_list<string_view> parts) {
  std::string out;
  for (const string_view part : parts) out.append(part);
  return out;
}

// ---------------------------------------------------------------------------------------------
// The web application around the plug-in file

struct Bundle {
  std::string name;  // e.g. com.corvane.users.Resources
  bool present = true;
};

struct JspPage {
  std::string module;
  std::string page;  // e.g. modifyUser
  bool underDefault = true;
  bool underBrowser = false;
};

struct WebAppPlan {
  std::vector<Bundle> bundles;
  std::vector<JspPage> pages;
};

std::string ResourceKey(string_view verb, string_view noun) { return Concat({verb, " ", noun}); }

WebAppPlan MakePlan() {
  WebAppPlan plan;
  for (const string_view module : kModules) {
    plan.bundles.push_back({Concat({"com.corvane.", Lowered(module), ".Resources"}), true});
  }
  plan.bundles.push_back({"com.corvane.common.Resources", true});
  plan.bundles.push_back({"com.corvane.legacy.Resources", false});

  // Each module has pages for four nouns; one page in 25 is missing, one in five lies under
  // the browser device only and some lie under both devices.
  std::size_t index = 0;
  for (std::size_t m = 0; m < kModules.size(); ++m) {
    for (std::size_t n = 0; n < 4; ++n) {
      for (const string_view verb : kVerbs) {
        const string_view noun = kNouns[(m + n) % kNouns.size()];
        JspPage page{std::string(kModules[m]), Lowered(verb) + WithoutBlanks(noun)};
        const bool missing = index % 25 == 11;
        page.underDefault = !missing && index % 5 != 2;
        page.underBrowser = !missing && (index % 5 == 2 || index % 9 == 0);
        plan.pages.push_back(std::move(page));
        ++index;
      }
    }
  }
  return plan;
}

void WriteTextFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary);
  file << content;
  if (!file.flush()) throw std::runtime_error("cannot write " + path.string());
}

// Keys are written with "_" for blanks, most in their usual spelling, some in capitals or
// small letters.
std::string PropertiesContent(const Bundle& bundle, Random& rng) {
  std::string text = "# Display names of " + bundle.name + "\n";
  for (const string_view verb : kVerbs) {
    for (const string_view noun : kNouns) {
      std::string key = Replaced(ResourceKey(verb, noun), ' ', '_');
      if (rng.percent(10)) {
        key = Uppered(key);
      } else if (rng.percent(10)) {
        key = Lowered(key);
      }
      text.append(key).append("=").append(verb).append(" ").append(Lowered(noun)).append("\n");
    }
  }
  return text;
}

std::string JspContent(const JspPage& page) {
  return Concat({"<%@ page contentType=\"text/html; charset=UTF-8\" %>\n<%-- ", page.module, ": ", page.page,
                 " --%>\n<div class=\"", page.page, "\"></div>\n"});
}

fs::path JspPath(const fs::path& root, const JspPage& page, string_view device) {
  return root / "portal/modules" / page.module / "skins/default/devices" / device / (page.page + ".jsp");
}

void WriteWebAppFiles(const fs::path& root, const WebAppPlan& plan) {
  Random rng(kSeed ^ 0xB0B);
  for (const Bundle& bundle : plan.bundles) {
    if (!bundle.present) continue;
    const fs::path file = root / "WEB-INF/classes" / (Replaced(bundle.name, '.', '/') + ".properties");
    WriteTextFile(file, PropertiesContent(bundle, rng));
  }
  for (const JspPage& page : plan.pages) {
    if (page.underDefault) WriteTextFile(JspPath(root, page, "default"), JspContent(page));
    if (page.underBrowser) WriteTextFile(JspPath(root, page, "browser"), JspContent(page));
  }
}

// ---------------------------------------------------------------------------------------------
// Writing XML

// Buffered file output that counts the bytes written.
class Output {
 public:
  explicit Output(const fs::path& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) throw std::runtime_error("cannot create " + path.string());
    buffer_.reserve(kFlushAt + 4096);
  }
  ~Output() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void append(string_view s) {
    buffer_.append(s);
    if (buffer_.size() >= kFlushAt) flush();
  }
  std::uint64_t bytes() const { return flushed_ + buffer_.size(); }
  void close() {
    flush();
    const bool failed = std::ferror(file_) != 0;
    const bool closeFailed = std::fclose(file_) != 0;
    file_ = nullptr;
    if (failed || closeFailed) throw std::runtime_error("cannot write the plug-in file");
  }

 private:
  static constexpr std::size_t kFlushAt = 1 << 20;

  void flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    flushed_ += buffer_.size();
    buffer_.clear();
  }

  std::FILE* file_;
  std::string buffer_;
  std::uint64_t flushed_ = 0;
};

// Elements one per line, indented by two blanks per level, as plug-in authors write them.
class XmlWriter {
 public:
  explicit XmlWriter(Output& out) : out_(out) {}

  void declaration() { out_.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"); }
  void open(string_view name) {
    line({"<", name, ">"});
    open_.emplace_back(name);
  }
  void close() {
    const std::string name = std::move(open_.back());
    open_.pop_back();
    line({"</", name, ">"});
  }
  void text(string_view name, string_view value) { line({"<", name, ">", Escaped(value), "</", name, ">"}); }
  void cdata(string_view name, string_view value) { line({"<", name, "><![CDATA[", value, "]]></", name, ">"}); }
  void comment(string_view text) { line({"<!-- ", text, " -->"}); }
  void blankLine() { out_.append("\n"); }

 private:
  static std::string Escaped(string_view s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
      switch (c) {
        case '&': out.append("&amp;"); break;
        case '<': out.append("&lt;"); break;
        case '>': out.append("&gt;"); break;
        default: out.push_back(c);
      }
    }
    return out;
  }

  void line(std::initializer_list<string_view> parts) {
    out_.append(string_view("                                        ").substr(0, 2 * open_.size()));
    for (const string_view part : parts) out_.append(part);
    out_.append("\n");
  }

  Output& out_;
  std::vector<std::string> open_;
};

// ---------------------------------------------------------------------------------------------
// The plug-in file

// Writes items of every kind; each item picks a module and a noun that its names follow, and
// the directory class it works on.
class PluginWriter {
 public:
  PluginWriter(XmlWriter& xml, const WebAppPlan& plan) : xml_(xml), plan_(plan), rng_(kSeed) {}

  void writeRoles(int count) {
    xml_.comment("Roles of the console");
    for (int i = 0; i < count; ++i) writeRole();
  }

  // One item of a kind chosen by weight, with a section comment now and then.
  void writeItem() {
    if (rng_.percent(3)) xml_.comment(Concat({"===== ", module_, " ", noun_, " ====="}));
    const std::size_t roll = rng_.below(100);
    if (roll < 8) {
      writeRole();
    } else if (roll < 13) {
      writeModule();
    } else if (roll < 21) {
      writeBook();
    } else if (roll < 51) {
      writeTask();
    } else if (roll < 82) {
      writePage("page");
    } else {
      writePage("private-page");
    }
  }

 private:
  // --- items -------------------------------------------------------------------------------

  void writeRole() {
    beginItem("role");
    writeId("Role");
    writeDisplayName();
    const std::string verb = Lowered(rng_.pick(kVerbs));
    xml_.text("description", Concat({"May ", verb, " ", Lowered(noun_), " objects & their rights"}));
    if (!roleIds_.empty() && rng_.percent(30)) xml_.text("role-assignment", roleToAssign());
    if (rng_.percent(50)) {
      xml_.open("scope");
      writeObjectTypes();
      xml_.close();
    }
    roleIds_.push_back(lastId_);
    endItem();
  }

  void writeModule() {
    beginItem("module");
    writeId("Module");
    writeDisplayName();
    const std::string minor = std::to_string(rng_.between(0, 9));
    xml_.text("version", Concat({"3.", minor, ".", std::to_string(rng_.between(0, 20))}));
    if (rng_.percent(40)) writeMergeTemplate();
    if (!ids_.empty() && rng_.percent(50)) xml_.text("depends-on", rng_.pick(ids_));
    endItem();
  }

  void writeBook() {
    beginItem("book");
    writeId("Book");
    writeDisplayName();
    writeRoleAssignments();
    xml_.open("contents");
    for (int i = rng_.between(1, 5); i > 0; --i) writeBookEntry();
    xml_.close();
    endItem();
  }

  void writeTask() {
    beginItem("task");
    writeId("Task");
    writeDisplayName();
    writeRoleAssignments();
    writeMergeTemplate();
    writeUrlParams(rng_.between(1, 3));
    writeObjectTypes();
    writeAttributeGroup("attributes", rng_.between(1, 6));
    if (rng_.percent(20)) writeWizard();
    if (rng_.percent(2)) writeObsoleteSettings();
    if (rng_.percent(15)) writeHelp();
    endItem();
  }

  // "page" or "private-page".
  void writePage(string_view element) {
    beginItem(element);
    writeId(element == "page" ? "Page" : "PrivatePage");
    writeDisplayName();
    writeRoleAssignments();
    writeMergeTemplate();
    if (rng_.percent(60)) writeUrlParams(rng_.between(1, 2));
    if (rng_.percent(70)) writeObjectTypes();
    for (int i = rng_.between(0, 3); i > 0; --i) writeChapter();
    if (rng_.percent(30)) writeLayout();
    if (rng_.percent(10)) writeHelp();
    endItem();
  }

  // --- parts of items ----------------------------------------------------------------------

  void beginItem(string_view element) {
    module_ = rng_.pick(kModules);
    noun_ = rng_.pick(kNouns);
    subject_ = &rng_.pick(kObjectClasses);
    xml_.open(element);
    if (rng_.percent(4)) xml_.comment(Concat({"Shown to ", rng_.pick(kHelpDesks), " only"}));
  }

  void endItem() {
    xml_.close();
    xml_.blankLine();
  }

  // A new id, or about one time in a hundred one used before.
  void writeId(string_view kind) {
    if (!ids_.empty() && rng_.percent(1)) {
      lastId_ = rng_.pick(ids_);
    } else {
      lastId_ = Concat({module_, ".", kind, ".", WithoutBlanks(noun_), ".", std::to_string(++serial_)});
      ids_.push_back(lastId_);
    }
    xml_.text("id", lastId_);
  }

  // The display-name key and its bundle, in either order.
  void writeDisplayName() {
    const std::string key = displayKey();
    const std::string bundle = bundleName();
    if (rng_.percent(50)) {
      xml_.text("display-name-key", key);
      xml_.text("resource-properties-file", bundle);
    } else {
      xml_.text("resource-properties-file", bundle);
      xml_.text("display-name-key", key);
    }
  }

  // Mostly "Verb Noun" with blanks; some with "_", some in other letter case, a few unknown.
  std::string displayKey() {
    if (rng_.percent(1)) return Concat({"Legacy ", noun_, " Title"});
    const std::string key = ResourceKey(rng_.pick(kVerbs), noun_);
    const std::size_t spelling = rng_.below(10);
    if (spelling < 6) return key;
    if (spelling < 8) return Replaced(key, ' ', '_');
    return spelling == 8 ? Lowered(key) : Uppered(key);
  }

  // The module's bundle mostly, the common one sometimes, a missing one rarely.
  std::string bundleName() {
    if (rng_.percent(1)) return plan_.bundles.back().name;
    if (rng_.percent(20)) return plan_.bundles[kModules.size()].name;
    return Concat({"com.corvane.", Lowered(module_), ".Resources"});
  }

  void writeRoleAssignments() {
    for (int i = rng_.between(0, 2); i > 0; --i) xml_.text("role-assignment", roleToAssign());
  }

  // An earlier role's id, or now and then one nobody defined.
  std::string roleToAssign() {
    if (roleIds_.empty() || rng_.percent(2)) return "Role.Retired." + std::to_string(rng_.between(1, 400));
    return rng_.pick(roleIds_);
  }

  void writeMergeTemplate() {
    const JspPage& page = rng_.pick(plan_.pages);
    xml_.text("merge-template", Concat({page.module, ".", page.page}));
  }

  // Mostly searches for the item's class, a few with blanks in the class name; some
  // pre-create flags.
  void writeUrlParams(int count) {
    for (int i = 0; i < count; ++i) {
      xml_.open("url-param");
      if (rng_.percent(80)) {
        const string_view cls = subject_->name;
        xml_.text("param-key", "eDirSearch");
        xml_.text("param-value", rng_.percent(90) ? Replaced(cls, ' ', '_') : std::string(cls));
      } else if (rng_.percent(50)) {
        xml_.text("param-key", "mode");
        xml_.text("param-value", "preCreate");
      } else {
        xml_.text("param-key", "startContext");
        xml_.text("param-value", Concat({"ou=", module_, ",o=corvane"}));
      }
      xml_.close();
    }
  }

  // The item's class; rarely an unknown class, now and then a second, unrelated one.
  void writeObjectTypes() {
    xml_.text("object-type-name", rng_.percent(1) ? rng_.pick(kUnknownClasses) : subject_->name);
    if (rng_.percent(2)) xml_.text("object-type-name", rng_.pick(kObjectClasses).name);
  }

  // Mostly an attribute of the item's class; a few of another class, a few unknown.
  string_view attributeName() {
    if (rng_.percent(2)) return rng_.pick(kUnknownAttributes);
    if (rng_.percent(3)) return rng_.pick(rng_.pick(kObjectClasses).attributes);
    return rng_.pick(subject_->attributes);
  }

  // A container element holding attribute names.
  void writeAttributeGroup(string_view element, int count) {
    xml_.open(element);
    for (int i = 0; i < count; ++i) xml_.text("attribute-name", attributeName());
    xml_.close();
  }

  // A page's chapter: its own id and display name, and attribute names directly inside.
  void writeChapter() {
    xml_.open("chapter");
    xml_.text("id", Concat({"chapter", std::to_string(rng_.between(1, 9))}));
    if (rng_.percent(80)) {
      writeDisplayName();
    } else {
      xml_.text("display-name-key", displayKey());
    }
    for (int i = rng_.between(1, 4); i > 0; --i) xml_.text("attribute-name", attributeName());
    xml_.close();
  }

  // Deeper nesting: sections of columns of attribute groups.
  void writeLayout() {
    xml_.open("layout");
    for (int s = rng_.between(1, 2); s > 0; --s) {
      xml_.open("section");
      xml_.text("title-key", ResourceKey(rng_.pick(kVerbs), noun_));
      for (int c = rng_.between(1, 2); c > 0; --c) {
        xml_.open("column");
        writeAttributeGroup("attribute-group", rng_.between(1, 3));
        xml_.close();
      }
      xml_.close();
    }
    xml_.close();
  }

  void writeWizard() {
    xml_.open("wizard");
    for (int s = rng_.between(2, 3); s > 0; --s) {
      xml_.open("step");
      writeMergeTemplate();
      writeUrlParams(1);
      xml_.close();
    }
    xml_.close();
  }

  void writeBookEntry() {
    xml_.open("entry");
    xml_.text("page-id", ids_.empty() ? std::string("Users.Page.User.1") : rng_.pick(ids_));
    xml_.text("title-key", ResourceKey(rng_.pick(kVerbs), noun_));
    xml_.close();
  }

  // Settings kept for older consoles; nothing inside is checked.
  void writeObsoleteSettings() {
    xml_.open("obsolete-settings");
    xml_.text("role-assignment", "Role.Removed");
    xml_.text("merge-template", "Gone.page");
    xml_.close();
  }

  void writeHelp() {
    xml_.cdata("help", Concat({"<p>Use this to <b>", Lowered(rng_.pick(kVerbs)), "</b> a ", Lowered(noun_),
                               " &amp; review the result.</p>"}));
  }

  XmlWriter& xml_;
  const WebAppPlan& plan_;
  Random rng_;
  string_view module_ = kModules[0];
  string_view noun_ = kNouns[0];
  const ObjectClass* subject_ = &kObjectClasses[0];
  std::string lastId_;
  std::vector<std::string> ids_;
  std::vector<std::string> roleIds_;
  std::uint64_t serial_ = 0;
};

fs::path WritePluginFile(const fs::path& root, const WebAppPlan& plan, std::uint64_t targetBytes) {
  const fs::path folder = root / "portal/modules" / kModules[0];
  fs::create_directories(folder);
  const fs::path path = folder / "plugin.xml";
  Output out(path);
  XmlWriter xml(out);
  xml.declaration();
  xml.comment("Plug-ins of the directory console: roles, modules, books, tasks and pages");
  xml.open("plugin");
  PluginWriter writer(xml, plan);
  writer.writeRoles(10);
  constexpr std::uint64_t kClosingBytes = 10;  // "</plugin>\n"
  while (out.bytes() + kClosingBytes < targetBytes) writer.writeItem();
  xml.close();
  out.close();
  return path;
}

bool ParseSize(string_view text, double& megabytes) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, megabytes);
  return ec == std::errc() && ptr == end && megabytes > 0 && megabytes <= kLargestSizeMb;
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = 0;
  if (argc != 3 || !ParseSize(argv[2], megabytes)) {
    std::cerr << "Usage: corvanexml-bench-gen OUTDIR SIZE_MB\n"
                 "Writes a plug-in web application into OUTDIR whose plug-in file,\n"
                 "OUTDIR/portal/modules/Users/plugin.xml, has about SIZE_MB MiB (above 0, at most "
              << kLargestSizeMb << ").\n";
    return 2;
  }
  try {
    const fs::path root = fs::absolute(argv[1]);
    const WebAppPlan plan = MakePlan();
    WriteWebAppFiles(root, plan);
    const fs::path file = WritePluginFile(root, plan, static_cast<std::uint64_t>(megabytes * kBytesPerMb));
    std::cout << file.string() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "corvanexml-bench-gen: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
