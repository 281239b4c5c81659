#include "xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <unordered_map>

#include "file_read.h"

namespace corvane {

namespace {

// Deep documents are walked without recursion, so the parser's own depth guard is lifted
// far above anything a plug-in file needs; its entity-expansion limits stay in force.
constexpr unsigned kMaxDocumentDepth = 10'000'000;
constexpr std::size_t kSourceLineChars = 40;
constexpr std::size_t kMaxArena = std::numeric_limits<std::uint32_t>::max();

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
  std::uint32_t n = 0;
  for (; from < to; ++from) n += IsUtf8Continuation(*from) ? 0 : 1;
  return n;
}

// The source line around the parser's current position, as far as its buffer still holds it.
std::string CurrentSourceLine(const xmlParserInput* input) {
  if (input == nullptr || input->base == nullptr || input->cur == nullptr) return {};
  const xmlChar* base = input->base;
  const xmlChar* end = input->end != nullptr ? input->end : input->cur;
  const xmlChar* cur = std::min(input->cur, end);
  while (cur > base && (cur == end || *cur == '\n' || *cur == '\r')) --cur;
  const xmlChar* start = cur;
  while (start > base && start[-1] != '\n' && start[-1] != '\r') --start;
  const xmlChar* stop = cur;
  while (stop < end && *stop != '\n' && *stop != '\r') ++stop;
  const std::string_view line(reinterpret_cast<const char*>(start), static_cast<std::size_t>(stop - start));
  return std::string(FirstChars(line, kSourceLineChars));
}

std::string TrimmedReason(const char* message) {
  std::string reason = message != nullptr ? message : "Unknown parser error";
  while (!reason.empty() && IsXmlBlank(reason.back())) reason.pop_back();
  return reason;
}

}  // namespace

// Receives the parser's SAX2 events and appends nodes to the document.
class XmlDocumentBuilder {
 public:
  // sizeHint: the input's size in bytes, so the arrays grow once instead of doubling.
  XmlDocumentBuilder(XmlDocument& doc, std::size_t sizeHint) : doc_(doc) {
    doc_.nodes_.reserve(sizeHint / 16 + 16);
    doc_.text_.reserve(sizeHint / 2 + 16);
    // Interned first, in the order of FixedName.
    for (const char* fixed : {"#text", "#cdata-section", "#comment"}) intern(fixed);
  }

  void attach(xmlParserCtxtPtr ctxt) { ctxt_ = ctxt; }
  const std::optional<LoadError>& error() const { return error_; }

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
    sax.warning = nullptr;
    sax.error = nullptr;
    sax.fatalError = nullptr;
  }

  void finish() {
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

  static void OnStartElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar*, int,
                             const xmlChar**, int, int, const xmlChar**) {
    Self(ctx).startElement(reinterpret_cast<const char*>(localName), reinterpret_cast<const char*>(prefix));
  }
  static void OnEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) { Self(ctx).endElement(); }
  static void OnCharacters(void* ctx, const xmlChar* ch, int len) {
    Self(ctx).appendText(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len));
  }
  static void OnCData(void* ctx, const xmlChar*, int) { Self(ctx).leaf(NodeKind::CData, kCDataName); }
  static void OnComment(void* ctx, const xmlChar*) { Self(ctx).leaf(NodeKind::Comment, kCommentName); }
  static void OnProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar*) {
    XmlDocumentBuilder& self = Self(ctx);
    self.leaf(NodeKind::ProcessingInstruction, self.intern(reinterpret_cast<const char*>(target)));
  }
  static void OnError(void* ctx, xmlErrorPtr err) {
    // libxml2 hands the structured handler its context's user data, which is the context itself.
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (ctxt != nullptr && ctxt->_private != nullptr) Self(ctxt).parserError(*err);
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
    flushText();
    XmlDocument::Node node;
    node.name = elementName(localName, prefix);
    startPosition(node);
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
    if (open_.empty()) return;  // comments and instructions outside the document element are not walked
    XmlDocument::Node node;
    node.kind = kind;
    node.name = name;
    append(node);
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

  // The parser calls us with its position just past the start tag's attributes; the tag's
  // "<" is found by looking back over the tag, which holds no other "<".
  void startPosition(XmlDocument::Node& node) const {
    const xmlParserInput* input = ctxt_->input;
    node.line = static_cast<std::uint32_t>(std::max(input->line, 0));
    if (input->base == nullptr || input->cur == nullptr) return;
    const xmlChar* lt = input->cur;
    std::uint32_t breaks = 0;
    while (lt > input->base && *lt != '<') {
      --lt;
      if (*lt == '\n') ++breaks;
    }
    if (*lt != '<') return;
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

  void parserError(const xmlError& err) {
    // An entity the document uses but never declares is an error for the console's parser too.
    const bool undeclaredEntity = err.code == XML_WAR_UNDECLARED_ENTITY;
    if (err.level < XML_ERR_ERROR && !undeclaredEntity) return;
    if (error_) return;
    LoadError e;
    e.message = TrimmedReason(err.message) + "\nLine: " + std::to_string(err.line) + "\n" +
                CurrentSourceLine(ctxt_->input);
    e.line = static_cast<std::uint32_t>(std::max(err.line, 0));
    e.column = static_cast<std::uint32_t>(std::max(err.int2, 0));
    error_ = std::move(e);
    xmlStopParser(ctxt_);
  }

  void fail(std::string message, std::uint32_t line, std::uint32_t column) {
    if (!error_) error_ = LoadError{std::move(message), line, column};
  }

  void tooLarge() {
    fail("Document too large: more than 4 GiB of text or 4 billion nodes", 0, 0);
    xmlStopParser(ctxt_);
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
  xmlParserCtxtPtr ctxt_ = nullptr;
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
};

LoadResult Parse(ByteSource& source, const std::string& name, std::size_t sizeHint) {
  ConfigureLibxml();
  auto doc = std::make_unique<XmlDocument>();
  XmlDocumentBuilder builder(*doc, sizeHint);
  xmlSAXHandler sax{};
  XmlDocumentBuilder::Install(sax);
  xmlParserCtxtPtr ctxt =
      xmlCreateIOParserCtxt(&sax, nullptr, &ByteSource::Read, &ByteSource::Close, &source, XML_CHAR_ENCODING_NONE);
  if (ctxt == nullptr) return {nullptr, LoadError{"Cannot create the XML parser for " + name, 0, 0, true}};
  ctxt->_private = &builder;
  ctxt->userData = ctxt;
  builder.attach(ctxt);
  xmlCtxtUseOptions(ctxt, XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  ctxt->sax->serror = sax.serror;  // the options above reset the plain handlers, not this one
  xmlParseDocument(ctxt);
  builder.finish();
  const bool wellFormed = ctxt->wellFormed != 0;
  if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
  xmlFreeParserCtxt(ctxt);

  if (source.readErrno != 0) {
    return {nullptr, LoadError{"Cannot read " + name + ": " + std::strerror(source.readErrno), 0, 0, true}};
  }
  if (builder.error()) return {nullptr, builder.error()};
  if (!wellFormed) return {nullptr, LoadError{"The document is not well-formed", 0, 0}};
  return {std::move(doc), std::nullopt};
}

}  // namespace

LoadResult LoadXmlFile(const std::string& path) {
  std::string reason;
  const int fd = OpenRegularFile(path, reason);
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
  std::optional<std::string> content = ReadRegularFile(path, reason);
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
