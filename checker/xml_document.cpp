#include "xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <unordered_map>

#include "d_util.h"
#include "file_read.h"

namespace corvane {

namespace {

// Deep documents are walked without recursion, so the parser's own depth guard is lifted
// far above anything a plug-in file needs; its entity-expansion limits stay in force.
constexpr unsigned kMaxDocumentDepth = 10'000'000;
constexpr std::size_t kSourceLineChars = 40;
constexpr std::size_t kMaxArena = std::numeric_limits<std::uint32_t>::max();
// Entity expansion may multiply a document up to this factor of its own size, or up to the
// floor for small files; beyond that the parser's work would grow without bound.
constexpr std::size_t kExpansionFactor = 10;
constexpr std::size_t kExpansionFloor = 10'000'000;

// A checked file must not make the program read another file or open a connection.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

// Errors reach us through the parser context; the library's own printing to stderr (its
// encoding module does that) would only repeat them out of place.
void IgnoreGenericError(void*, const char*, ...) {}

void ConfigureLibxml() {
  static const bool configured = [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    xmlParserMaxDepth = kMaxDocumentDepth;
    return true;
  }();
  (void)configured;
}

bool IsXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Up to `limit` characters (not bytes) from the start of text.
std::string_view FirstChars(std::string_view text, std::size_t limit) {
  std::size_t i = 0;
  for (std::size_t chars = 0; i < text.size(); ++i) {
    if (IsUtf8Continuation(static_cast<unsigned char>(text[i]))) continue;
    if (chars++ == limit) break;
  }
  return text.substr(0, i);
}

std::uint32_t CountChars(const xmlChar* from, const xmlChar* to) {
  return static_cast<std::uint32_t>(
      Utf8Length(std::string_view(reinterpret_cast<const char*>(from), static_cast<std::size_t>(to - from))));
}

// The text with every byte that is not part of a UTF-8 character shown as U+FFFD, so that a
// message stays valid text whatever the file holds.
std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char ch = NextUtf8Char(text, i);
    const std::size_t length = ch.wellFormed ? ch.size : 1;
    out.append(ch.wellFormed ? text.substr(i, length) : std::string_view("\xEF\xBF\xBD"));
    i += length;
  }
  return out;
}

std::string TrimmedReason(const char* message) {
  std::string reason = message != nullptr ? message : "Unknown parser error";
  while (!reason.empty() && IsXmlBlank(reason.back())) reason.pop_back();
  return reason;
}

// The parser names its size limits after the option that lifts them and its own functions;
// the user needs to know only which part of the document broke a limit.
std::string InUsersTerms(std::string reason) {
  static constexpr std::pair<std::string_view, std::string_view> kLimits[] = {
      {"Huge input lookup", "A tag, comment or declaration is too long"},
      {"Excessive depth in document", "Elements are nested too deeply"},
      {"xmlParseElementChildrenContentDecl", "An element declaration is nested too deeply"},
      {"Name too long", "A name is too long"},
      {"AttValue length too long", "An attribute value is too long"},
      {"entity value too long", "An entity value is too long"},
      {"Comment too big", "A comment is too long"},
      {"CData section too big", "A CDATA section is too long"},
      {"too big found", "A processing instruction is too long"},
      {"huge text node", "A text is too long"},
  };
  constexpr std::string_view kTail = ": the document exceeds the parser's size limits";
  for (const auto& [said, meant] : kLimits) {
    if (reason.find(said) != std::string::npos) return std::string(meant).append(kTail);
  }
  // A limit this table does not know yet still loses the option's name.
  if (const std::size_t option = reason.find("XML_PARSE_"); option != std::string::npos) {
    reason.resize(option);
    if (reason.ends_with("use ")) reason.resize(reason.size() - 4);
    while (!reason.empty() && (IsXmlBlank(reason.back()) || reason.back() == ',')) reason.pop_back();
    return reason.append(kTail);
  }
  return reason;
}

}  // namespace

// Receives the parser's SAX2 events and appends nodes to the document.
class XmlDocumentBuilder {
 public:
  // size: the input's size in bytes, so the arrays grow once instead of doubling, and the
  // measure of how far its entities may expand. name: the document's name for messages.
  XmlDocumentBuilder(XmlDocument& doc, std::size_t size, const std::string& name)
      : doc_(doc),
        size_(size),
        expansionLimit_(
            std::max(kExpansionFloor, size > SIZE_MAX / kExpansionFactor ? SIZE_MAX : size * kExpansionFactor)),
        noMemory_(NotEnoughMemory(name)) {
    doc_.nodes_.reserve(size / 16 + 16);
    doc_.text_.reserve(size / 2 + 16);
    // Interned first, in the order of FixedName.
    for (const char* fixed : {"#text", "#cdata-section", "#comment"}) intern(fixed);
  }

  void attach(xmlParserCtxtPtr ctxt) { ctxt_ = ctxt; }
  const std::optional<LoadError>& error() const { return error_; }
  // Whether the error's message still needs its line and the source text of that line.
  bool errorAtLine() const { return errorAtLine_; }
  // The encoding the parser converted the document from; empty for UTF-8.
  const std::string& encoding() const { return encoding_; }

  static std::string NotEnoughMemory(const std::string& name) { return "Not enough memory to load " + name; }

  static void Install(xmlSAXHandler& sax) {
    xmlSAXVersion(&sax, 2);  // keeps the defaults that handle the DTD and entities
    sax.startElementNs = &OnStartElement;
    sax.endElementNs = &OnEndElement;
    sax.characters = &OnCharacters;
    sax.ignorableWhitespace = &OnCharacters;
    sax.cdataBlock = &OnCData;
    sax.comment = &OnComment;
    sax.processingInstruction = &OnProcessingInstruction;
    sax.serror = &OnError;
    sax.getEntity = &OnGetEntity;
    sax.getParameterEntity = &OnGetParameterEntity;
    sax.warning = nullptr;
    sax.error = nullptr;
    sax.fatalError = nullptr;
  }

  void finish() {
    current_ = nullptr;  // the contexts of entity expansions are gone
    flushText();
    if (!error_ && doc_.root_ == kNoNode) fail("Document is empty", 0, 0);
  }

 private:
  struct OpenElement {
    NodeId id;
    NodeId lastChild;
  };
  enum FixedName : std::uint32_t { kTextName, kCDataName, kCommentName };

  static XmlDocumentBuilder& Self(void* ctx) {
    return *static_cast<XmlDocumentBuilder*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
  }

  // Every event arrives with the context that raised it: the document's own, or that of an
  // entity's expansion, which the parser runs as a nested parse sharing our _private. After a
  // failure every context is stopped as soon as it calls. No exception may unwind through
  // the parser's C frames: running out of memory ends the load with its own message.
  template <typename Work>
  static void Handle(void* ctx, Work&& work) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt == nullptr || ctxt->_private == nullptr) return;
    XmlDocumentBuilder& self = Self(ctxt);
    self.current_ = ctxt;
    if (self.error_) {
      xmlStopParser(ctxt);
      return;
    }
    try {
      work(self);
    } catch (...) {
      self.outOfMemory();  // all our work can throw is a failure to allocate
    }
  }

  static void OnStartElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar*, int,
                             const xmlChar**, int, int, const xmlChar**) {
    Handle(ctx, [&](XmlDocumentBuilder& self) {
      self.startElement(reinterpret_cast<const char*>(localName), reinterpret_cast<const char*>(prefix));
    });
  }
  static void OnEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    Handle(ctx, [](XmlDocumentBuilder& self) { self.endElement(); });
  }
  static void OnCharacters(void* ctx, const xmlChar* ch, int len) {
    Handle(ctx, [&](XmlDocumentBuilder& self) {
      self.appendText(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len));
    });
  }
  static void OnCData(void* ctx, const xmlChar*, int) {
    Handle(ctx, [](XmlDocumentBuilder& self) { self.leaf(NodeKind::CData, kCDataName); });
  }
  static void OnComment(void* ctx, const xmlChar* value) {
    Handle(ctx, [&](XmlDocumentBuilder& self) { self.comment(reinterpret_cast<const char*>(value)); });
  }
  static void OnProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar*) {
    Handle(ctx, [&](XmlDocumentBuilder& self) {
      self.leaf(NodeKind::ProcessingInstruction, self.intern(reinterpret_cast<const char*>(target)));
    });
  }
  static void OnError(void* ctx, xmlErrorPtr err) {
    // libxml2 hands the structured handler its context's user data, which is the context itself.
    Handle(ctx, [&](XmlDocumentBuilder& self) { self.parserError(static_cast<xmlParserCtxtPtr>(ctx), *err); });
  }
  static xmlEntityPtr OnGetEntity(void* ctx, const xmlChar* name) {
    return Expanding(ctx, xmlSAX2GetEntity(ctx, name));
  }
  static xmlEntityPtr OnGetParameterEntity(void* ctx, const xmlChar* name) {
    return Expanding(ctx, xmlSAX2GetParameterEntity(ctx, name));
  }
  // The parser resolves a reference just before it expands it, in content, in an attribute
  // value or inside another entity's text: the replacement text is counted before the work
  // starts, and a reference past the limit is not resolved at all.
  static xmlEntityPtr Expanding(void* ctx, xmlEntityPtr entity) {
    if (entity == nullptr || entity->etype == XML_INTERNAL_PREDEFINED_ENTITY) return entity;
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt == nullptr || ctxt->_private == nullptr) return entity;
    Handle(ctx, [&](XmlDocumentBuilder& self) {
      self.countExpansion(static_cast<std::size_t>(std::max(entity->length, 0)));
    });
    return Self(ctx).error_ ? nullptr : entity;
  }

  std::uint32_t intern(std::string_view name) {
    if (const auto it = nameIds_.find(name); it != nameIds_.end()) return it->second;
    const auto id = static_cast<std::uint32_t>(doc_.names_.size());
    doc_.names_.emplace_back(name);
    nameIds_.emplace(doc_.names_.back(), id);
    return id;
  }

  // The parser hands out names from its dictionary, so a name's address identifies it.
  std::uint32_t elementName(const char* localName, const char* prefix) {
    const auto key = std::make_pair(static_cast<const void*>(localName), static_cast<const void*>(prefix));
    if (const auto it = dictNames_.find(key); it != dictNames_.end()) return it->second;
    if (prefix != nullptr) {
      scratch_.assign(prefix).append(":").append(localName);
    } else {
      scratch_.assign(localName);
    }
    const std::uint32_t id = intern(scratch_);
    dictNames_.emplace(key, id);
    return id;
  }

  void startElement(const char* localName, const char* prefix) {
    if (doc_.root_ == kNoNode) noteEncoding();
    flushText();
    XmlDocument::Node node;
    node.name = elementName(localName, prefix);
    startPosition(node, "<");
    const NodeId id = append(node);
    if (id == kNoNode) return;
    if (open_.empty() && doc_.root_ == kNoNode) doc_.root_ = id;
    open_.push_back({id, kNoNode});
  }

  void endElement() {
    flushText();
    if (!open_.empty()) open_.pop_back();
  }

  void leaf(NodeKind kind, std::uint32_t name) {
    flushText();
    if (open_.empty()) return;  // instructions outside the document element are not walked
    XmlDocument::Node node;
    node.kind = kind;
    node.name = name;
    append(node);
  }

  // Comments keep their text and where they start, also outside the document element: the
  // command line reads its directives from them.
  void comment(std::string_view value) {
    flushText();
    const bool inProlog = open_.empty() && doc_.root_ == kNoNode;
    const bool inEpilog = open_.empty() && !inProlog;
    if (doc_.text_.size() + value.size() > kMaxArena) {
      tooLarge();
      return;
    }
    XmlDocument::Node node;
    node.kind = NodeKind::Comment;
    node.name = kCommentName;
    node.textBegin = static_cast<std::uint32_t>(doc_.text_.size());
    node.textLength = static_cast<std::uint32_t>(value.size());
    doc_.text_.append(value);
    startPosition(node, "<!--");
    const NodeId id = append(node);
    if (id == kNoNode) return;
    if (inProlog) doc_.prolog_.push_back(id);
    if (inEpilog) doc_.epilog_.push_back(id);
  }

  // Text arrives in pieces (chunks, entity expansions); it is gathered at the end of the
  // arena and becomes one node when something else starts, unless it is only blanks.
  void appendText(const char* text, std::size_t length) {
    if (open_.empty()) return;  // only blanks can lie outside the document element
    if (!textOpen_) {
      textOpen_ = true;
      textStart_ = doc_.text_.size();
    }
    doc_.text_.append(text, length);
  }

  void flushText() {
    if (!textOpen_) return;
    textOpen_ = false;
    const std::string_view text = std::string_view(doc_.text_).substr(textStart_);
    if (std::all_of(text.begin(), text.end(), IsXmlBlank)) {
      doc_.text_.resize(textStart_);
      return;
    }
    if (doc_.text_.size() > kMaxArena) {
      tooLarge();
      return;
    }
    XmlDocument::Node node;
    node.kind = NodeKind::Text;
    node.name = kTextName;
    node.textBegin = static_cast<std::uint32_t>(textStart_);
    node.textLength = static_cast<std::uint32_t>(text.size());
    append(node);
  }

  NodeId append(const XmlDocument::Node& node) {
    if (doc_.nodes_.size() >= kNoNode - 1) {
      tooLarge();
      return kNoNode;
    }
    // A node an entity brings costs its storage, which short markup such as "<a/>" outweighs.
    if (inExpansion()) countExpansion(sizeof(XmlDocument::Node));
    const auto id = static_cast<NodeId>(doc_.nodes_.size());
    doc_.nodes_.push_back(node);
    if (!open_.empty()) {
      OpenElement& parent = open_.back();
      if (parent.lastChild == kNoNode) {
        doc_.nodes_[parent.id].firstChild = id;
      } else {
        doc_.nodes_[parent.lastChild].nextSibling = id;
      }
      parent.lastChild = id;
      ++doc_.nodes_[parent.id].childCount;
    }
    return id;
  }

  // The parser calls us with its position just past the markup (a start tag's attributes, a
  // comment's "-->"); where it starts is found by looking back for its opener, which the
  // markup holds nowhere else.
  void startPosition(XmlDocument::Node& node, std::string_view opener) const {
    const xmlParserInput* input = ctxt_->input;
    node.line = static_cast<std::uint32_t>(std::max(input->line, 0));
    // An element an entity brought stands where the reference does, just behind the
    // document's position; looking back from there would cross the document's text once per
    // element.
    if (inExpansion()) {
      node.column = static_cast<std::uint32_t>(std::max(input->col, 0));
      return;
    }
    if (input->base == nullptr || input->cur == nullptr) return;
    const auto opensHere = [&](const xmlChar* at) {
      return static_cast<std::size_t>(input->end - at) >= opener.size() &&
             std::memcmp(at, opener.data(), opener.size()) == 0;
    };
    const xmlChar* lt = input->cur;
    std::uint32_t breaks = 0;
    while (lt > input->base && !opensHere(lt)) {
      --lt;
      if (*lt == '\n') ++breaks;
    }
    if (!opensHere(lt)) return;
    node.line -= std::min(node.line, breaks);
    if (breaks == 0 && input->col > 0) {
      const std::uint32_t back = CountChars(lt, input->cur);
      node.column = static_cast<std::uint32_t>(input->col) > back ? input->col - back : 1;
      return;
    }
    const xmlChar* lineStart = lt;
    while (lineStart > input->base && lineStart[-1] != '\n') --lineStart;
    if (lineStart > input->base || input->line == 1) node.column = CountChars(lineStart, lt) + 1;
  }

  void parserError(xmlParserCtxtPtr from, const xmlError& err) {
    // An entity the document uses but never declares is an error for the console's parser too.
    const bool undeclaredEntity = err.code == XML_WAR_UNDECLARED_ENTITY;
    if (err.level < XML_ERR_ERROR && !undeclaredEntity) return;
    // Inside an entity's expansion the parser counts the entity's own lines; the user needs
    // the line of the document where the reference stands.
    const bool inDocument = from == ctxt_ || ctxt_->input == nullptr;
    refuse(InUsersTerms(TrimmedReason(err.message)), inDocument ? err.line : ctxt_->input->line,
           inDocument ? err.int2 : ctxt_->input->col);
  }

  void countExpansion(std::size_t bytes) {
    expanded_ += bytes;
    if (expanded_ <= expansionLimit_) return;
    refuse("Entities expand to more than " + std::to_string(expansionLimit_) + " bytes (the file has " +
               std::to_string(size_) + "): refused",
           ctxt_->input != nullptr ? ctxt_->input->line : 0, 0);
  }

  // Ends the load with a reason found at a line of the document.
  void refuse(std::string reason, int line, int column) {
    noteEncoding();
    fail(std::move(reason), static_cast<std::uint32_t>(std::max(line, 0)),
         static_cast<std::uint32_t>(std::max(column, 0)));
    errorAtLine_ = true;
    stop();
  }

  void fail(std::string message, std::uint32_t line, std::uint32_t column) {
    if (!error_) error_ = LoadError{std::move(message), line, column};
  }

  void tooLarge() {
    fail("Document too large: more than 4 GiB of text or 4 billion nodes", 0, 0);
    stop();
  }

  void outOfMemory() {
    if (!error_) error_.emplace();
    error_->message = std::move(noMemory_);  // made in advance: nothing is allocated now
    stop();
  }

  // Whether the event being handled comes from the parse of an entity's text.
  bool inExpansion() const { return current_ != nullptr && current_ != ctxt_; }

  // Stops the parse that called us and the document's own, which an entity's parse runs inside.
  void stop() {
    if (inExpansion()) xmlStopParser(current_);
    xmlStopParser(ctxt_);
  }

  // The parser chooses the encoding from the document's first bytes and its declaration,
  // before the document element; once stopped it no longer holds it.
  void noteEncoding() {
    const xmlParserInput* input = ctxt_->input;
    if (input == nullptr || input->buf == nullptr || input->buf->encoder == nullptr) return;
    if (input->buf->encoder->name != nullptr) encoding_ = input->buf->encoder->name;
  }

  struct PointerPairHash {
    std::size_t operator()(const std::pair<const void*, const void*>& p) const {
      return std::hash<const void*>{}(p.first) ^ (std::hash<const void*>{}(p.second) * 31);
    }
  };
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  XmlDocument& doc_;
  xmlParserCtxtPtr ctxt_ = nullptr;     // the document's own parse
  xmlParserCtxtPtr current_ = nullptr;  // the parse whose event is being handled
  std::size_t size_;
  std::size_t expansionLimit_;
  std::size_t expanded_ = 0;  // replacement text of the references resolved, nodes they made
  std::string noMemory_;
  std::string encoding_;
  bool errorAtLine_ = false;
  std::vector<OpenElement> open_;
  bool textOpen_ = false;
  std::size_t textStart_ = 0;
  std::string scratch_;
  std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> nameIds_;
  std::unordered_map<std::pair<const void*, const void*>, std::uint32_t, PointerPairHash> dictNames_;
  std::optional<LoadError> error_;
};

namespace {

// Where the parser's bytes come from: an open file or a block of memory.
struct ByteSource {
  int fd = -1;
  std::string_view memory;
  std::size_t offset = 0;
  int readErrno = 0;

  static int Read(void* context, char* buffer, int len) {
    auto& self = *static_cast<ByteSource*>(context);
    if (self.fd < 0) {
      const std::size_t n = std::min(static_cast<std::size_t>(len), self.memory.size() - self.offset);
      std::memcpy(buffer, self.memory.data() + self.offset, n);
      self.offset += n;
      return static_cast<int>(n);
    }
    for (;;) {
      const ssize_t n = ::read(self.fd, buffer, static_cast<std::size_t>(len));
      if (n >= 0) return static_cast<int>(n);
      if (errno == EINTR) continue;
      self.readErrno = errno;
      return -1;
    }
  }
  static int Close(void*) { return 0; }

  // Reads again from offset, for the error case only; 0 at the end or on failure.
  std::size_t readAt(std::size_t at, char* buffer, std::size_t len) const {
    if (fd < 0) {
      if (at >= memory.size()) return 0;
      const std::size_t n = std::min(len, memory.size() - at);
      std::memcpy(buffer, memory.data() + at, n);
      return n;
    }
    for (;;) {
      const ssize_t n = ::pread(fd, buffer, len, static_cast<off_t>(at));
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) return 0;
    }
  }
};

// Turns the document's bytes into UTF-8 as the parser did, piece by piece.
class Utf8Reader {
 public:
  explicit Utf8Reader(const std::string& encoding) {
    if (!encoding.empty() && UpperCaseAscii(encoding) != "UTF-8") {
      converter_ = ::iconv_open("UTF-8", encoding.c_str());
    }
  }
  ~Utf8Reader() {
    if (converter_ != kNoConverter) ::iconv_close(converter_);
  }
  Utf8Reader(const Utf8Reader&) = delete;
  Utf8Reader& operator=(const Utf8Reader&) = delete;

  // Appends the text of the next bytes to out; a character split between two pieces is
  // finished with the next one, and a byte that is no character shows as U+FFFD.
  void convert(std::string_view bytes, std::string& out) {
    if (converter_ == kNoConverter) {
      out.append(bytes);
      return;
    }
    pending_.append(bytes);
    char* in = pending_.data();
    std::size_t inLeft = pending_.size();
    char buffer[16384];
    while (inLeft > 0) {
      char* next = buffer;
      std::size_t room = sizeof buffer;
      const std::size_t done = ::iconv(converter_, &in, &inLeft, &next, &room);
      out.append(buffer, static_cast<std::size_t>(next - buffer));
      if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      if (errno == EINVAL) break;  // an incomplete character at the end
      out.append("\xEF\xBF\xBD");
      ++in;
      --inLeft;
    }
    pending_.erase(0, pending_.size() - inLeft);
  }

 private:
  inline static const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
  iconv_t converter_ = kNoConverter;
  std::string pending_;
};

// The first characters of the document's line number `line`. The parser keeps only a window
// of the document in its buffer, which may have left the line's start behind, so the line
// is read again from the source, up to that line and no further.
std::string SourceLine(const ByteSource& source, const std::string& encoding, std::uint32_t line) {
  if (line == 0) return {};
  constexpr std::size_t kMaxBytes = 4 * (kSourceLineChars + 1);  // enough for any 41 characters
  Utf8Reader reader(encoding);
  std::uint32_t breaksToSkip = line - 1;  // the parser counts lines by their LF
  bool atStart = true;
  std::string wanted;
  std::string text;
  std::vector<char> buffer(65536);
  for (std::size_t at = 0;;) {
    const std::size_t n = source.readAt(at, buffer.data(), buffer.size());
    if (n == 0) break;
    at += n;
    text.clear();
    reader.convert(std::string_view(buffer.data(), n), text);
    std::string_view piece = text;
    if (atStart && !piece.empty()) {
      if (piece.starts_with("\xEF\xBB\xBF")) piece.remove_prefix(3);  // a byte order mark is no text
      atStart = false;
    }
    while (breaksToSkip > 0 && !piece.empty()) {
      const std::size_t lf = piece.find('\n');
      piece.remove_prefix(lf == std::string_view::npos ? piece.size() : lf + 1);
      if (lf != std::string_view::npos) --breaksToSkip;
    }
    const std::size_t end = std::min(piece.find_first_of("\r\n"), kMaxBytes - wanted.size());
    wanted.append(piece.substr(0, end));
    if (end < piece.size() || wanted.size() >= kMaxBytes) break;
  }
  const std::string valid = ValidUtf8(wanted);
  return std::string(FirstChars(valid, kSourceLineChars));
}

struct ParserContextDeleter {
  void operator()(xmlParserCtxt* ctxt) const {
    if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
    xmlFreeParserCtxt(ctxt);
  }
};

LoadResult ParseWithin(ByteSource& source, const std::string& name, std::size_t size) {
  ConfigureLibxml();
  auto doc = std::make_unique<XmlDocument>();
  XmlDocumentBuilder builder(*doc, size, name);
  xmlSAXHandler sax{};
  XmlDocumentBuilder::Install(sax);
  std::unique_ptr<xmlParserCtxt, ParserContextDeleter> ctxt(
      xmlCreateIOParserCtxt(&sax, nullptr, &ByteSource::Read, &ByteSource::Close, &source, XML_CHAR_ENCODING_NONE));
  if (ctxt == nullptr) return {nullptr, LoadError{"Cannot create the XML parser for " + name, 0, 0, true}};
  ctxt->_private = &builder;
  ctxt->userData = ctxt.get();
  builder.attach(ctxt.get());
  xmlCtxtUseOptions(ctxt.get(), XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  ctxt->sax->serror = sax.serror;  // the options above reset the plain handlers, not this one
  xmlParseDocument(ctxt.get());
  builder.finish();
  const bool wellFormed = ctxt->wellFormed != 0;
  ctxt.reset();

  if (source.readErrno != 0) {
    return {nullptr, LoadError{"Cannot read " + name + ": " + std::strerror(source.readErrno), 0, 0, true}};
  }
  if (builder.error()) {
    LoadError error = *builder.error();
    if (builder.errorAtLine()) {
      error.message.append("\nLine: ").append(std::to_string(error.line)).append("\n");
      error.message.append(SourceLine(source, builder.encoding(), error.line));
    }
    return {nullptr, std::move(error)};
  }
  if (!wellFormed) return {nullptr, LoadError{"The document is not well-formed", 0, 0}};
  return {std::move(doc), std::nullopt};
}

// A document too large for memory is a load error like any other.
LoadResult Parse(ByteSource& source, const std::string& name, std::size_t size) {
  try {
    return ParseWithin(source, name, size);
  } catch (const std::bad_alloc&) {
    return {nullptr, LoadError{XmlDocumentBuilder::NotEnoughMemory(name), 0, 0}};
  }
}

}  // namespace

LoadResult LoadXmlFile(const std::string& path, const FileIdentity* expected) {
  std::string reason;
  const int fd = OpenRegularFile(path, reason, expected);
  if (fd < 0) return {nullptr, LoadError{"Cannot open " + path + ": " + reason, 0, 0, true}};
  struct stat st {};
  ::fstat(fd, &st);
  ByteSource source;
  source.fd = fd;
  LoadResult result = Parse(source, path, static_cast<std::size_t>(st.st_size));
  ::close(fd);
  return result;
}

LoadResult LoadXmlFileKeepingText(const std::string& path, std::string& text) {
  std::string reason;
  std::optional<std::string> content;
  try {
    content = ReadRegularFile(path, reason);
  } catch (const std::bad_alloc&) {
    text.clear();
    return {nullptr, LoadError{XmlDocumentBuilder::NotEnoughMemory(path), 0, 0}};
  }
  if (!content) {
    text.clear();
    return {nullptr, LoadError{"Cannot open " + path + ": " + reason, 0, 0, true}};
  }
  text = std::move(*content);
  return LoadXmlMemory(text, path);
}

LoadResult LoadXmlMemory(std::string_view content, const std::string& name) {
  ByteSource source;
  source.memory = content;
  return Parse(source, name, content.size());
}

}  // namespace corvane
