#include "editor_queries.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <set>

#include "d_util.h"
#include "file_read.h"
#include "scan.h"
#include "source_span.h"
#include "web_app.h"

namespace corvane {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The value elements the editor answers for, and the id; an empty one left unclosed still
// ends where the next tag begins.
constexpr std::array<std::string_view, 7> kValueElements = {
    "object-type-name",
    "attribute-name",
    "display-name-key",
    "resource-properties-file",
    "role-assignment",
    "merge-template",
    "id",
};

bool IsValueElement(std::string_view name) {
  return std::find(kValueElements.begin(), kValueElements.end(), name) != kValueElements.end();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsBlankText(std::string_view text) { return std::all_of(text.begin(), text.end(), IsBlank); }

// An element as the tolerant scan found it.
struct ScannedElement {
  std::string_view name;
  std::size_t start = 0;           // its '<'
  std::size_t contentBegin = 0;    // just past its start tag
  std::size_t contentEnd = kNone;  // its end tag's '<', or where the scan ended it
  std::size_t parent = kNone;
  std::uint32_t depth = 0;  // 0 for the document element
  bool hasChildren = false;
  bool hasText = false;  // text that is not blank, or a CDATA section
  bool closed = false;   // by its own end tag
  bool empty = false;    // written as <name/>
};

// The elements of a document, in document order (so an element's descendants follow it), read
// as the header describes.
class Outline {
 public:
  explicit Outline(std::string_view text) : text_(text) { scan(); }

  const std::vector<ScannedElement>& elements() const { return elements_; }
  const ScannedElement& operator[](std::size_t i) const { return elements_[i]; }

  // Whether the element holds only text, so that it has a value.
  bool isValue(std::size_t i) const { return !elements_[i].hasChildren && !elements_[i].empty; }
  // The bytes of a value element's text; an element the scan ended stops before the blanks
  // that follow its text.
  ByteRange valueRange(std::size_t i) const {
    const ScannedElement& e = elements_[i];
    std::size_t end = e.contentEnd;
    if (!e.closed) {
      while (end > e.contentBegin && IsBlank(text_[end - 1])) --end;
    }
    return {e.contentBegin, end - e.contentBegin};
  }
  std::string value(std::size_t i) const;
  // The innermost element whose content holds offset; kNone outside the document element.
  std::size_t at(std::size_t offset) const;
  // The item element (a child of the document element) that element i is in, or i itself; kNone for none.
  std::size_t itemOf(std::size_t i) const;
  // One past the last descendant of element i.
  std::size_t subtreeEnd(std::size_t i) const {
    std::size_t j = i + 1;
    while (j < elements_.size() && elements_[j].depth > elements_[i].depth) ++j;
    return j;
  }
  // The first value element named name from first up to last, or kNone.
  std::size_t find(std::string_view name, std::size_t first, std::size_t last) const {
    for (std::size_t j = first; j < last; ++j) {
      if (elements_[j].name == name && isValue(j)) return j;
    }
    return kNone;
  }

 private:
  void scan();
  // Steps over markup that is no element from lt; where the scan goes on, or kNone for an element tag.
  std::size_t skipOther(std::size_t lt);
  void endTag(std::size_t lt, std::size_t& pos);
  void startTag(std::size_t lt, std::size_t& pos);
  void end(std::size_t at, bool closed) {
    ScannedElement& e = elements_[open_.back()];
    e.contentEnd = at;
    e.closed = closed;
    open_.pop_back();
  }

  std::string_view text_;
  std::vector<ScannedElement> elements_;
  std::vector<std::size_t> open_;
};

std::size_t NameEnd(std::string_view text, std::size_t from) {
  while (from < text.size() && !IsBlank(text[from]) && text[from] != '/' && text[from] != '>' && text[from] != '<') {
    ++from;
  }
  return from;
}

void Outline::scan() {
  std::size_t pos = 0;
  while (pos < text_.size()) {
    const std::size_t lt = text_.find('<', pos);
    const std::size_t stop = lt == kNone ? text_.size() : lt;
    if (!open_.empty() && !IsBlankText(text_.substr(pos, stop - pos))) elements_[open_.back()].hasText = true;
    if (lt == kNone) break;
    if (const std::size_t next = skipOther(lt); next != kNone) {
      pos = next;
    } else if (lt + 1 < text_.size() && text_[lt + 1] == '/') {
      endTag(lt, pos);
    } else {
      startTag(lt, pos);
    }
  }
  while (!open_.empty()) end(text_.size(), false);
}

std::size_t Outline::skipOther(std::size_t lt) {
  const std::string_view rest = text_.substr(lt);
  const auto past = [&](std::string_view terminator, std::size_t from) {
    const std::size_t at = text_.find(terminator, lt + from);
    return at == kNone ? text_.size() : at + terminator.size();
  };
  if (rest.starts_with("<!--")) return past("-->", 4);
  if (rest.starts_with("<![CDATA[")) {
    if (!open_.empty()) elements_[open_.back()].hasText = true;
    return past("]]>", 9);
  }
  if (rest.starts_with("<?")) return past("?>", 2);
  if (rest.starts_with("<!")) {
    // A document type declaration may hold an internal subset in brackets.
    int brackets = 0;
    for (std::size_t i = lt + 2; i < text_.size(); ++i) {
      if (text_[i] == '[') ++brackets;
      if (text_[i] == ']') --brackets;
      if (text_[i] == '>' && brackets <= 0) return i + 1;
    }
    return text_.size();
  }
  return kNone;
}

void Outline::endTag(std::size_t lt, std::size_t& pos) {
  const std::size_t nameEnd = NameEnd(text_, lt + 2);
  const std::string_view name = text_.substr(lt + 2, nameEnd - lt - 2);
  const std::size_t gt = text_.find_first_of("<>", nameEnd);
  const bool finished = gt != kNone && text_[gt] == '>';
  pos = finished ? gt + 1 : (gt == kNone ? text_.size() : gt);
  if (open_.empty()) return;
  if (!finished) {
    end(lt, true);
    return;
  }
  const auto match =
      std::find_if(open_.rbegin(), open_.rend(), [&](std::size_t i) { return elements_[i].name == name; });
  if (match == open_.rend()) return;  // an end tag that ends nothing open
  const std::size_t keep = static_cast<std::size_t>(open_.rend() - match) - 1;
  while (open_.size() > keep + 1) end(lt, false);
  end(lt, true);
}

void Outline::startTag(std::size_t lt, std::size_t& pos) {
  const std::size_t nameEnd = NameEnd(text_, lt + 1);
  if (nameEnd == lt + 1) {  // a lone '<' is text
    if (!open_.empty()) elements_[open_.back()].hasText = true;
    pos = lt + 1;
    return;
  }
  // The tag ends at its '>', quoted values stepped over; a tag cut off by the next '<' is ignored.
  std::size_t i = nameEnd;
  char quote = 0;
  for (; i < text_.size(); ++i) {
    const char c = text_[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>' || c == '<') {
      break;
    }
  }
  if (i >= text_.size() || text_[i] != '>') {
    pos = i;
    return;
  }
  pos = i + 1;
  if (!open_.empty()) {
    const ScannedElement& top = elements_[open_.back()];
    if (!top.hasChildren && (top.hasText || IsValueElement(top.name))) end(lt, false);
  }
  ScannedElement e;
  e.name = text_.substr(lt + 1, nameEnd - lt - 1);
  e.start = lt;
  e.contentBegin = i + 1;
  e.depth = static_cast<std::uint32_t>(open_.size());
  if (!open_.empty()) {
    e.parent = open_.back();
    elements_[open_.back()].hasChildren = true;
  }
  e.empty = text_[i - 1] == '/';
  if (e.empty) {
    e.contentEnd = e.contentBegin;
    e.closed = true;
  }
  elements_.push_back(e);
  if (!e.empty) open_.push_back(elements_.size() - 1);
}

// Appends the UTF-8 bytes of a character.
void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The character a reference between '&' and ';' stands for; nothing for one it does not know.
std::optional<std::uint32_t> ReferencedChar(std::string_view name) {
  constexpr std::pair<std::string_view, char> kPredefined[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [entity, c] : kPredefined) {
    if (name == entity) return static_cast<std::uint32_t>(c);
  }
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  const bool hex = name[1] == 'x';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t c = 0;
  for (const char d : digits) {
    const int digit = std::isdigit(static_cast<unsigned char>(d)) != 0 ? d - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(d)) != 0
                          ? (std::tolower(static_cast<unsigned char>(d)) - 'a' + 10)
                          : -1;
    if (digit < 0) return std::nullopt;
    c = c * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (c == 0 || c > 0x10FFFF) return std::nullopt;
  return c;
}

// Text as written, with the references it knows resolved and the rest kept as written.
std::string Resolved(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::size_t semicolon = raw[i] == '&' ? raw.find(';', i) : kNone;
    const std::optional<std::uint32_t> c =
        semicolon == kNone ? std::nullopt : ReferencedChar(raw.substr(i + 1, semicolon - i - 1));
    if (!c) {
      out.push_back(raw[i]);
      continue;
    }
    AppendUtf8(out, *c);
    i = semicolon;
  }
  return out;
}

std::string Outline::value(std::size_t i) const {
  const ByteRange range = valueRange(i);
  return Resolved(text_.substr(range.offset, range.length));
}

std::size_t Outline::at(std::size_t offset) const {
  std::size_t found = kNone;
  for (std::size_t i = 0; i < elements_.size() && elements_[i].start < offset; ++i) {
    const ScannedElement& e = elements_[i];
    if (!e.empty && e.contentBegin <= offset && offset <= e.contentEnd) found = i;
  }
  return found;
}

std::size_t Outline::itemOf(std::size_t i) const {
  while (i != kNone && elements_[i].depth > 1) i = elements_[i].parent;
  if (i == kNone || elements_[i].depth != 1 || !IsItemElement(elements_[i].name)) return kNone;
  return i;
}

// The line (from 0) and byte column of offset; lines end at a LF, a CR LF or a lone CR.
std::pair<std::size_t, std::size_t> LineAndColumn(std::string_view text, std::size_t offset) {
  std::size_t line = 0;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
      ++line;
      lineStart = i + 1;
    }
  }
  return {line, offset - lineStart};
}

// The bundle that applies to element i: one beside it, else its item's, else the last one
// before it in the document.
std::size_t BundleOf(const Outline& outline, std::size_t i) {
  constexpr std::string_view kBundle = "resource-properties-file";
  const std::size_t parent = outline[i].parent;
  if (parent != kNone) {
    for (std::size_t j = parent + 1; j < outline.subtreeEnd(parent); j = outline.subtreeEnd(j)) {
      if (outline[j].name == kBundle && outline.isValue(j)) return j;
    }
  }
  if (const std::size_t item = outline.itemOf(i); item != kNone) {
    if (const std::size_t j = outline.find(kBundle, item + 1, outline.subtreeEnd(item)); j != kNone) return j;
  }
  std::size_t last = kNone;
  for (std::size_t j = 0; j < i; ++j) {
    if (outline[j].name == kBundle && outline.isValue(j)) last = j;
  }
  return last;
}

// Whether element i is an id as the id rule reads ids: a child of an item, or anywhere in a
// translator file, but never a chapter's.
bool IsIdElement(const Outline& outline, std::size_t i) {
  const ScannedElement& e = outline[i];
  if (e.name != "id" || !outline.isValue(i) || e.parent == kNone) return false;
  if (outline[e.parent].name == "chapter") return false;
  if (outline[0].name == "dir-translator") return true;
  return e.depth == 2 && IsItemElement(outline[e.parent].name);
}

// The first id element whose value is id, or kNone.
std::size_t IdElement(const Outline& outline, std::string_view id) {
  for (std::size_t i = 0; i < outline.elements().size(); ++i) {
    if (IsIdElement(outline, i) && outline.value(i) == id) return i;
  }
  return kNone;
}

// The question's element, its context filled in; kNone when the offset is in no value.
std::size_t ContextOf(const Outline& outline, std::size_t offset, EditorContext& context) {
  const std::size_t i = outline.at(offset);
  if (i == kNone) return kNone;
  if (const std::size_t item = outline.itemOf(i); item != kNone) {
    context.item = outline[item].name;
    const std::size_t end = outline.subtreeEnd(item);
    for (std::size_t j = item + 1; j < end; ++j) {
      if (outline[j].name == "object-type-name" && outline.isValue(j)) {
        if (std::string name = outline.value(j); !name.empty()) context.classes.push_back(std::move(name));
      }
      if (context.itemId.empty() && IsIdElement(outline, j)) context.itemId = outline.value(j);
    }
  }
  if (const std::size_t bundle = BundleOf(outline, i); bundle != kNone) context.bundle = outline.value(bundle);
  if (!outline.isValue(i)) return kNone;
  context.element = outline[i].name;
  context.value = outline.value(i);
  context.valueRange = outline.valueRange(i);
  // A value the scan ended before the offset reaches to it: the blanks typed belong to it.
  const std::size_t end = context.valueRange.offset + context.valueRange.length;
  if (offset > end) context.valueRange.length = offset - context.valueRange.offset;
  return i;
}

// The properties file of a bundle, read whole; nothing when it cannot be read.
std::optional<std::string> ReadBundle(const std::string& root, std::string_view bundle, std::string& path) {
  if (root.empty() || bundle.empty()) return std::nullopt;
  path = PropertiesPath(root, bundle);
  std::string reason;
  return ReadRegularFile(path, reason);
}

// A line of a properties file that holds a key, not a comment or nothing.
bool IsKeyLine(const PropertiesLine& line) {
  return !line.key.empty() && line.key.front() != '#' && line.key.front() != '!' && !IsBlankText(line.key);
}

// The line of key in a bundle, found as the key rule finds it: letter case ignored, blanks as "_".
std::optional<PropertiesLine> KeyLine(const std::vector<PropertiesLine>& lines, std::string_view key) {
  const std::string wanted = ReplaceChars(key, " ", '_');
  for (const PropertiesLine& line : lines) {
    if (SameText(line.key, wanted)) return line;
  }
  return std::nullopt;
}

// The text cut to about limit bytes, never inside a character.
std::string Shortened(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "...";
}

// "<group>-<index>", the index in eight digits, so that texts sort as the pairs do.
std::string SortText(int group, std::size_t index) {
  const std::string digits = std::to_string(index);
  return std::to_string(group) + "-" + std::string(8 - std::min<std::size_t>(8, digits.size()), '0') + digits;
}

// Adds a candidate unless its label was offered already.
class Candidates {
 public:
  void add(std::string label, std::string detail, int group, CandidateKind kind) {
    if (!offered_.insert(label).second) return;
    std::string sortText = SortText(group, list_.size());
    list_.push_back({std::move(label), std::move(detail), std::move(sortText), kind});
  }
  std::vector<Candidate> take() { return std::move(list_); }

 private:
  std::set<std::string, std::less<>> offered_;
  std::vector<Candidate> list_;
};

bool IsAuxiliary(const SchemaView& schema, std::string_view className) {
  constexpr std::int64_t kAuxiliary = 0x20;  // the flags word's bit of an auxiliary class
  const std::int64_t i = schema.SchemaClassList.indexOf(className);
  return i >= 0 && (schema.SchemaClassList[static_cast<std::size_t>(i)].object & kAuxiliary) != 0;
}

void CompleteClasses(const SchemaView& schema, Candidates& out) {
  for (const StringList::Entry& c : schema.SchemaClassList.entries()) {
    out.add(c.text, IsAuxiliary(schema, c.text) ? "auxiliary class" : "class", 1, CandidateKind::Class);
  }
}

// "MUST of User", or "MAY of User, from Top" for one it inherits.
std::string MemberDetail(SchemaFacts& schema, std::string_view kind, const std::string& className,
                         const std::string& attribute) {
  std::string detail = std::string(kind) + " of " + className;
  const std::string declarer = schema.declarer(className, attribute);
  if (!declarer.empty() && declarer != className) detail.append(", from ").append(declarer);
  return detail;
}

void CompleteAttributes(SchemaFacts& schema, const EditorContext& context, Candidates& out) {
  for (const std::string& className : context.classes) {
    const SchemaFacts::ClassFacts* facts = schema.facts(className);
    if (facts == nullptr) continue;
    for (const std::string& a : facts->must) {
      out.add(a, MemberDetail(schema, "MUST", className, a), 0, CandidateKind::Attribute);
    }
    for (const std::string& a : facts->may) {
      out.add(a, MemberDetail(schema, "MAY", className, a), 0, CandidateKind::Attribute);
    }
  }
  for (const StringList::Entry& c : schema.view().SchemaClassList.entries()) {
    if (!IsAuxiliary(schema.view(), c.text)) continue;
    if (const SchemaFacts::ClassFacts* facts = schema.facts(c.text)) {
      for (const std::string& a : facts->must) out.add(a, "auxiliary: " + c.text, 1, CandidateKind::Attribute);
      for (const std::string& a : facts->may) out.add(a, "auxiliary: " + c.text, 1, CandidateKind::Attribute);
    }
  }
  for (const StringList::Entry& a : schema.view().SchemaAttributeList.entries()) {
    out.add(a.text, "attribute", 2, CandidateKind::Attribute);
  }
}

void CompleteKeys(const std::string& root, const EditorContext& context, Candidates& out) {
  std::string path;
  const std::optional<std::string> content = ReadBundle(root, context.bundle, path);
  if (!content) return;
  for (const PropertiesLine& line : PropertiesLines(*content)) {
    if (IsKeyLine(line)) out.add(std::string(line.key), Shortened(line.value, 40), 0, CandidateKind::Key);
  }
}

// Every properties file below WEB-INF/classes, as the bundle name that reads it.
void CompleteBundles(const std::string& root, Candidates& out) {
  if (root.empty()) return;
  const std::filesystem::path classes = std::filesystem::path(root) / "WEB-INF/classes";
  std::error_code ec;
  std::vector<std::string> bundles;
  for (auto it = std::filesystem::recursive_directory_iterator(
           classes, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().extension() != ".properties" || !it->is_regular_file(ec)) continue;
    std::string name = it->path().lexically_relative(classes).replace_extension().string();
    std::replace(name.begin(), name.end(), '/', '.');
    bundles.push_back(std::move(name));
  }
  std::sort(bundles.begin(), bundles.end());
  for (std::string& b : bundles) {
    std::string detail = "WEB-INF/classes/" + ReplaceChars(b, ".", '/') + ".properties";
    out.add(std::move(b), std::move(detail), 0, CandidateKind::Bundle);
  }
}

void CompleteIds(const Outline& outline, std::string_view text, std::size_t offset, Candidates& out) {
  for (std::size_t i = 0; i < outline.elements().size(); ++i) {
    if (!IsIdElement(outline, i) || outline.valueRange(i).length == 0) continue;
    const std::size_t line = LineAndColumn(text, outline[i].start).first + 1;
    // An id below the assignment is not met before it: the check would call it unknown.
    const bool before = outline[i].start < offset;
    std::string detail = std::string(outline[outline[i].parent].name) + ", line " + std::to_string(line);
    if (!before) detail.append(" (below: move it up)");
    out.add(outline.value(i), std::move(detail), before ? 0 : 1, CandidateKind::Id);
  }
}

// "Module.page" for each page under a module's default or browser device.
void CompleteTemplates(const std::string& root, Candidates& out) {
  if (root.empty()) return;
  const std::filesystem::path modules = std::filesystem::path(root) / "portal/modules";
  std::error_code ec;
  std::vector<std::pair<std::string, std::string>> pages;
  for (auto module = std::filesystem::directory_iterator(modules, ec);
       !ec && module != std::filesystem::directory_iterator(); module.increment(ec)) {
    for (const std::string_view device : {"default", "browser"}) {
      const std::filesystem::path folder = module->path() / "skins/default/devices" / device;
      std::error_code inner;
      for (auto page = std::filesystem::directory_iterator(folder, inner);
           !inner && page != std::filesystem::directory_iterator(); page.increment(inner)) {
        if (page->path().extension() != ".jsp" || !page->is_regular_file(inner)) continue;
        pages.emplace_back(module->path().filename().string() + "." + page->path().stem().string(),
                           std::string(device));
      }
    }
  }
  std::sort(pages.begin(), pages.end());
  for (auto& [label, device] : pages) out.add(std::move(label), "page under " + device, 0, CandidateKind::Template);
}

// The JSP page of a merge template that exists, looked for as the template rule looks.
std::optional<std::string> TemplatePage(const std::string& root, std::string_view value) {
  if (root.empty()) return std::nullopt;
  const std::string module = StrBefore(value, ".", true);
  const std::string page = StrAfter(value, ".", true);
  for (const std::string_view device : {"default", "browser"}) {
    std::string path = JspPath(root, module, device, page);
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return std::nullopt;
}

std::string Joined(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& n : names) text.append(text.empty() ? "" : ", ").append(n);
  return text;
}

std::string ClassHover(SchemaFacts& schema, const std::string& name) {
  const SchemaFacts::ClassFacts* facts = schema.facts(name);
  if (facts == nullptr) return "`" + name + "`: no class of the tree's schema";
  std::string text = "**" + name + "**: " + (facts->auxiliary ? "auxiliary class" : "class");
  text.append("\n\nSuperclasses: ").append(Joined(schema.ancestors(name)));
  text.append("\n\nMUST: ").append(Joined(facts->must));
  text.append("\n\nMAY: ").append(Joined(facts->may));
  return text;
}

std::string AttributeHover(SchemaFacts& schema, const std::string& name) {
  if (!schema.view().SchemaAttributeList.contains(name)) return "`" + name + "`: no attribute of the tree's schema";
  return "**" + name + "**: attribute\n\nDeclared by: " + Joined(schema.declaringClasses(name));
}

std::string KeyHover(const std::string& root, const EditorContext& context) {
  std::string path;
  const std::optional<std::string> content = ReadBundle(root, context.bundle, path);
  if (context.bundle.empty()) return "`" + context.value + "`: no bundle (resource-properties-file) for this key";
  if (!content) return "`" + context.value + "`: the bundle `" + context.bundle + "` cannot be read";
  const std::optional<PropertiesLine> line = KeyLine(PropertiesLines(*content), context.value);
  if (!line) return "`" + context.value + "`: not in the bundle `" + context.bundle + "`";
  return "**" + context.value + "** in `" + context.bundle + "`:\n\n" + std::string(line->value);
}

std::string RoleHover(const Outline& outline, std::string_view text, const std::string& id) {
  const std::size_t i = IdElement(outline, id);
  if (i == kNone) return "`" + id + "`: no id of this file";
  const std::size_t line = LineAndColumn(text, outline[i].start).first + 1;
  return "`" + id + "`: the " + std::string(outline[outline[i].parent].name) + " on line " + std::to_string(line);
}

Location PlaceIn(const std::string& path, std::string_view text, ByteRange range) {
  const auto [line, column] = LineAndColumn(text, range.offset);
  return {path, line, column, range};
}

}  // namespace

EditorContext ContextAt(std::string_view text, std::size_t offset) {
  EditorContext context;
  ContextOf(Outline(text), offset, context);
  return context;
}

const SchemaFacts::ClassFacts* SchemaFacts::facts(std::string_view className) {
  if (const auto it = classes_.find(className); it != classes_.end()) return &it->second;
  if (!schema_.SchemaClassList.contains(className)) return nullptr;
  const std::string name(className);
  ClassFacts facts;
  facts.auxiliary = IsAuxiliary(schema_, name);
  StringList attributes;
  if (schema_.GetClassAttributes) schema_.GetClassAttributes(name, attributes);
  constexpr std::int64_t kMandatoryList = 3;  // the item list of the MUST attributes
  for (const StringList::Entry& a : attributes.entries()) {
    (a.object == kMandatoryList ? facts.must : facts.may).push_back(a.text);
    facts.all.insert(a.text);
  }
  StringList supers;
  if (schema_.GetSuperClasses) schema_.GetSuperClasses(name, supers);
  facts.superClasses = supers.lines();
  return &classes_.emplace(name, std::move(facts)).first->second;
}

std::vector<std::string> SchemaFacts::ancestors(std::string_view className) {
  // Breadth first, so that the nearest come first; a cycle ends where it meets a class seen.
  std::vector<std::string> found{std::string(className)};
  std::set<std::string, std::less<>> seen{std::string(className)};
  for (std::size_t next = 0; next < found.size(); ++next) {
    const ClassFacts* facts = this->facts(found[next]);
    if (facts == nullptr) continue;
    for (const std::string& s : facts->superClasses) {
      if (seen.insert(s).second) found.push_back(s);
    }
  }
  found.erase(found.begin());
  return found;
}

bool SchemaFacts::declares(std::string_view className, std::string_view attribute) {
  const ClassFacts* facts = this->facts(className);
  if (facts == nullptr || !facts->all.contains(std::string(attribute))) return false;
  // Classes read later do not move those read before: the map's entries stay where they are.
  const std::vector<std::string>& supers = facts->superClasses;
  return std::none_of(supers.begin(), supers.end(), [&](const std::string& s) {
    const ClassFacts* super = this->facts(s);
    return super != nullptr && super->all.contains(std::string(attribute));
  });
}

std::string SchemaFacts::declarer(std::string_view className, std::string_view attribute) {
  if (declares(className, attribute)) return std::string(className);
  for (const std::string& s : ancestors(className)) {
    if (declares(s, attribute)) return s;
  }
  return {};
}

const std::vector<std::string>& SchemaFacts::declaringClasses(std::string_view attribute) {
  if (!declaringBuilt_) {
    for (const StringList::Entry& c : schema_.SchemaClassList.entries()) {
      const ClassFacts* facts = this->facts(c.text);
      if (facts == nullptr) continue;
      for (const std::string& a : facts->all) {
        if (declares(c.text, a)) declaring_[a].push_back(c.text);
      }
    }
    for (auto& [name, classes] : declaring_) std::sort(classes.begin(), classes.end());
    declaringBuilt_ = true;
  }
  static const std::vector<std::string> kNoClasses;
  const auto it = declaring_.find(attribute);
  return it == declaring_.end() ? kNoClasses : it->second;
}

std::optional<Completion> CompleteAt(const EditorDocument& doc, std::size_t offset, SchemaFacts& schema) {
  const Outline outline(doc.text);
  EditorContext context;
  if (ContextOf(outline, offset, context) == kNone) return std::nullopt;
  const std::string root = ExtractWebAppRoot(doc.path);
  Candidates out;
  const std::string& element = context.element;
  if (element == "object-type-name") {
    CompleteClasses(schema.view(), out);
  } else if (element == "attribute-name") {
    CompleteAttributes(schema, context, out);
  } else if (element == "display-name-key") {
    CompleteKeys(root, context, out);
  } else if (element == "resource-properties-file") {
    CompleteBundles(root, out);
  } else if (element == "role-assignment") {
    CompleteIds(outline, doc.text, offset, out);
  } else if (element == "merge-template") {
    CompleteTemplates(root, out);
  } else {
    return std::nullopt;
  }
  return Completion{context.valueRange, out.take()};
}

std::optional<Hover> HoverAt(const EditorDocument& doc, std::size_t offset, SchemaFacts& schema) {
  const Outline outline(doc.text);
  EditorContext context;
  if (ContextOf(outline, offset, context) == kNone || context.value.empty()) return std::nullopt;
  std::string text;
  if (context.element == "object-type-name") {
    text = ClassHover(schema, context.value);
  } else if (context.element == "attribute-name") {
    text = AttributeHover(schema, context.value);
  } else if (context.element == "display-name-key") {
    text = KeyHover(ExtractWebAppRoot(doc.path), context);
  } else if (context.element == "role-assignment") {
    text = RoleHover(outline, doc.text, context.value);
  } else {
    return std::nullopt;
  }
  return Hover{std::move(text), context.valueRange};
}

std::optional<Location> DefinitionAt(const EditorDocument& doc, std::size_t offset) {
  const Outline outline(doc.text);
  EditorContext context;
  if (ContextOf(outline, offset, context) == kNone || context.value.empty()) return std::nullopt;
  const std::string root = ExtractWebAppRoot(doc.path);
  if (context.element == "role-assignment") {
    const std::size_t i = IdElement(outline, context.value);
    if (i == kNone) return std::nullopt;
    return PlaceIn(doc.path, doc.text, outline.valueRange(i));
  }
  if (context.element == "merge-template") {
    std::optional<std::string> page = TemplatePage(root, context.value);
    if (!page) return std::nullopt;
    return Location{std::move(*page), 0, 0, {}};
  }
  const bool isKey = context.element == "display-name-key";
  if (!isKey && context.element != "resource-properties-file") return std::nullopt;
  std::string path;
  const std::optional<std::string> content = ReadBundle(root, isKey ? context.bundle : context.value, path);
  if (!content) return std::nullopt;
  if (!isKey) return Location{std::move(path), 0, 0, {}};
  const std::optional<PropertiesLine> line = KeyLine(PropertiesLines(*content), context.value);
  if (!line) return std::nullopt;
  return Location{std::move(path), line->line, 0, {}};
}

std::optional<QuickFix> QuickFixOf(const Suggestion& suggestion, const XmlDocument& doc, std::string_view source) {
  return QuickFixesOf(std::span(&suggestion, 1), doc, source)[0];
}

std::vector<std::optional<QuickFix>> QuickFixesOf(std::span<const Suggestion> suggestions, const XmlDocument& doc,
                                                  std::string_view source) {
  std::vector<std::optional<QuickFix>> fixes(suggestions.size());
  std::vector<std::size_t> inDocument;
  std::vector<SourcePosition> starts;
  for (std::size_t i = 0; i < suggestions.size(); ++i) {
    const Suggestion& suggestion = suggestions[i];
    if (suggestion.append) {
      const FileAppend& append = *suggestion.append;
      const std::size_t first = append.text.find_first_not_of('\n');
      const std::string line =
          first == std::string::npos ? std::string() : append.text.substr(first, append.text.size() - first - 1);
      fixes[i] = QuickFix{"Add \"" + line + "\" to " + append.path, append.path, {}, append.text, suggestion.certain};
    } else if (suggestion.element != kNoNode) {
      inDocument.push_back(i);
      starts.push_back(doc.position(suggestion.element));
    }
  }
  const std::vector<std::optional<std::size_t>> offsets = ByteOffsets(source, starts);
  for (std::size_t k = 0; k < inDocument.size(); ++k) {
    const Suggestion& suggestion = suggestions[inDocument[k]];
    if (!offsets[k]) continue;
    const std::optional<SourceSpan> span = TextElementSpan(source, *offsets[k], doc, suggestion.element);
    if (!span) continue;
    fixes[inDocument[k]] = QuickFix{
        "Change to \"" + suggestion.text + "\"", {}, {span->offset, span->length}, suggestion.text, suggestion.certain};
  }
  return fixes;
}

}  // namespace corvane
