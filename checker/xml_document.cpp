#include "xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <system_error>

#include "d_util.h"
#include "file_read.h"
#include "fill_ahead.h"
#include "text_index.h"
#include "vector_room.h"

namespace corvane {

namespace {

constexpr std::size_t kSourceLineChars = 40;
constexpr std::size_t kMaxArena = std::numeric_limits<std::uint32_t>::max();
// Entity expansion may multiply a document up to this factor of its own size, or up to the
// floor for small files; beyond that the parser's work would grow without bound.
constexpr std::size_t kExpansionFactor = 10;
constexpr std::size_t kExpansionFloor = 10'000'000;
// Files smaller than this are read whole and parsed where they lie; larger ones piece by piece.
constexpr std::size_t kReadWholeBelow = std::size_t{1} << 20;

// A checked file must not make the program read another file or open a connection.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

// Errors reach us through the parser context; the library's own printing to stderr (its
// encoding module does that) would only repeat them out of place.
void IgnoreGenericError(void*, const char*, ...) {}

void ConfigureLibxml() {
  static const bool configured = [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(RefuseExternalEntity);
    return true;
  }();
  (void)configured;
  // The error handler is each thread's own: files are parsed on several threads at once.
  thread_local const bool quiet = [] {
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    return true;
  }();
  (void)quiet;
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

// The last byte equal to c in [from, to), with the line feeds and the characters (bytes that
// are no UTF-8 continuation) from it to `to`; found is null when there is none. Markup is
// short: eight bytes are looked at together, and each byte once.
struct ByteBehind {
  const xmlChar* found = nullptr;
  std::uint32_t lineFeeds = 0;
  std::uint32_t chars = 0;
};

ByteBehind LastByteBefore(const xmlChar* from, const xmlChar* to, xmlChar c) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7FULL;
  constexpr std::uint64_t kTops = 0x8080808080808080ULL;
  // The top bit of each byte of word that is zero, and of no other.
  const auto zeroBytes = [](std::uint64_t word) { return ~(((word & kLows) + kLows) | word | kLows); };
  ByteBehind behind;
  const xmlChar* end = to;
  for (; end - from >= 8; end -= 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, end - 8, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    const std::uint64_t matches = zeroBytes(word ^ (c * kOnes));
    // The bytes from the last match on, as top bits; all eight without one.
    const int skipped = matches == 0 ? 0 : 56 - std::countl_zero(matches);
    const std::uint64_t kept = kTops << skipped;
    const std::uint64_t lineFeeds = zeroBytes(word ^ ('\n' * kOnes)) & kept;
    const std::uint64_t continuations = word & ~(word << 1) & kept;
    behind.lineFeeds += lineFeeds == 0 ? 0 : static_cast<std::uint32_t>(std::popcount(lineFeeds));
    behind.chars += static_cast<std::uint32_t>(8 - skipped / 8);
    if (continuations != 0) behind.chars -= static_cast<std::uint32_t>(std::popcount(continuations));
    if (matches != 0) {
      behind.found = end - 8 + skipped / 8;
      return behind;
    }
  }
  while (end > from) {
    const xmlChar byte = *--end;
    behind.lineFeeds += byte == '\n' ? 1 : 0;
    behind.chars += IsUtf8Continuation(byte) ? 0 : 1;
    if (byte == c) {
      behind.found = end;
      return behind;
    }
  }
  return behind;
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

// The parser's reason on one line: the message has "Line: N" on the line after it, and some
// reasons run on to a second line of their own (the bytes that are no UTF-8).
std::string OneLineReason(const char* message) {
  std::string reason = message != nullptr ? message : "Unknown parser error";
  while (!reason.empty() && IsXmlBlank(reason.back())) reason.pop_back();
  std::replace_if(
      reason.begin(), reason.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return reason;
}

// The parser names its size limits after the option that lifts them and its own functions;
// the user needs to know only which part of the document broke a limit. With that option
// on, only the nesting of content models keeps a limit.
std::string InUsersTerms(std::string reason) {
  static constexpr std::pair<std::string_view, std::string_view> kLimits[] = {
      {"xmlParseElementChildrenContentDecl", "An element declaration is nested too deeply"},
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

SourcePosition XmlDocument::position(NodeId id) const {
  const Node& n = at_.nodes[id];
  if (n.kind() == NodeKind::Element) return {n.first, n.second};
  SourcePosition at;
  if (n.kind() == NodeKind::Comment) std::memcpy(&at, at_.text + n.first - sizeof at, sizeof at);
  return at;
}

// Receives the parser's SAX2 events and appends nodes to the document.
class XmlDocumentBuilder {
 public:
  // size: the input's size in bytes, so the arrays grow once instead of doubling, and the
  // measure of how far its entities may expand. name: the document's name for messages.
  // stream: where finished children of the document element are handed out, if anywhere.
  // kept: where the file's bytes are kept as they are read, if anywhere, its room made.
  XmlDocumentBuilder(XmlDocument& doc, std::size_t size, const std::string& name, StreamedLoad* stream = nullptr,
                     const std::string* kept = nullptr)
      : doc_(doc),
        stream_(stream),
        kept_(kept),
        keptAt_(kept != nullptr ? kept->data() : nullptr),
        size_(size),
        expansionLimit_(
            std::max(kExpansionFloor, size > SIZE_MAX / kExpansionFactor ? SIZE_MAX : size * kExpansionFactor)),
        noMemory_(NotEnoughMemory(name)) {
    ReserveInHugePages(doc_.nodes_, ExpectedNodes(size));
    ReserveInHugePages(doc_.text_, size / 2 + 16);
    // Room for the names and depth of most documents, made once instead of in steps.
    doc_.names_.reserve(kUsualNames);
    nameIds_.reserve(kUsualNames);
    open_.reserve(kUsualDepth);
    doc_.noteStorage();
    if (size >= kFillAheadFrom && std::thread::hardware_concurrency() > 1) {
      const FillAhead::Region storage[] = {{doc_.nodes_.data(), doc_.nodes_.capacity() * sizeof(XmlDocument::Node)},
                                           {doc_.text_.data(), doc_.text_.capacity()},
                                           {keptAt_, kept_ != nullptr ? kept_->capacity() : 0}};
      fillAhead_.emplace(storage);
    }
    // Interned first, in the order of FixedName.
    for (const char* fixed : {"#text", "#cdata-section", "#comment"}) intern(fixed);
  }

  static constexpr std::size_t kUsualDepth = 32;
  static constexpr std::size_t kUsualNames = 64;

  // How many nodes a document of size bytes is expected to have, generously.
  static std::size_t ExpectedNodes(std::size_t size) { return size / 16 + 16; }

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
    sax.startDocument = &OnStartDocument;
    sax.internalSubset = &OnInternalSubset;
    sax.warning = nullptr;
    sax.error = nullptr;
    sax.fatalError = nullptr;
  }

  void finish() {
    fillAhead_.reset();
    current_ = nullptr;  // the contexts of entity expansions are gone
    flushText();
    if (!error_ && doc_.root_ == kNoNode) fail("Document is empty", 0, 0);
    if (stream_ != nullptr && !finished_.empty()) stream_->handOut(finished_);
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
  // The library's document, which holds what a DTD declares, is made only for a DTD: making
  // and freeing it takes a lock that all threads share.
  static void OnStartDocument(void*) {}
  static void OnInternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalId, const xmlChar* systemId) {
    if (static_cast<xmlParserCtxtPtr>(ctx)->myDoc == nullptr) xmlSAX2StartDocument(ctx);
    xmlSAX2InternalSubset(ctx, name, externalId, systemId);
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
    const auto nameAt = [this](std::size_t i) { return std::string_view(doc_.names_[i]); };
    if (const std::int64_t known = nameIds_.find(name, nameAt); known >= 0) return static_cast<std::uint32_t>(known);
    if (doc_.names_.size() == XmlDocument::kMaxNames) {
      tooLarge();
      return 0;
    }
    const auto id = static_cast<std::uint32_t>(doc_.names_.size());
    if (doc_.names_.size() == doc_.names_.capacity()) {
      growing([&] { doc_.names_.reserve(2 * doc_.names_.capacity() + 16); });
    }
    nameIds_.reserve(doc_.names_.size() + 1);
    doc_.names_.emplace_back(name);
    nameIds_.insert(id, nameAt);
    return id;
  }

  struct RecentName;

  // The parser hands out names from its dictionary, so a name's address identifies it. A
  // document uses few names, nearly all of them found in the small table of recent ones.
  const RecentName& elementName(const char* localName, const char* prefix) {
    const auto key = std::make_pair(static_cast<const void*>(localName), static_cast<const void*>(prefix));
    RecentName& recent = recentNames_[PointerPairHash{}(key)];
    if (recent.key == key) return recent;
    const std::string_view name =
        prefix != nullptr ? scratch_.assign(prefix).append(":").append(localName) : std::string_view(localName);
    recent = {key, intern(name), static_cast<std::uint32_t>(name.size()), static_cast<std::uint32_t>(Utf8Length(name))};
    return recent;
  }

  void startElement(const char* localName, const char* prefix) {
    if (doc_.root_ == kNoNode) noteEncoding();
    flushText();
    XmlDocument::Node node;
    const RecentName& name = elementName(localName, prefix);
    node.name = name.id;
    // A start tag ends where the parser stands, at its '>' or "/>"; most are '<' and the name.
    const SourcePosition at = startPosition("<", name.bytes + 1, name.chars + 1);
    node.first = at.line;
    node.second = at.column;
    const NodeId id = append(node);
    if (id == kNoNode) return;
    if (open_.empty() && doc_.root_ == kNoNode) {
      doc_.root_ = id;
      if (stream_ != nullptr) stream_->start(doc_, id, ExpectedNodes(size_));
    }
    open_.push_back({id, kNoNode});
  }

  void endElement() {
    flushText();
    if (open_.empty()) return;
    const NodeId closed = open_.back().id;
    open_.pop_back();
    if (doc_.isTextElement(closed)) ++doc_.textElements_;
    if (open_.size() == 1) finishedRootChild(closed);
  }

  // A child of the document element is finished: nothing in it changes any more.
  void finishedRootChild(NodeId child) {
    if (stream_ == nullptr) return;
    finished_.push_back(child);
    // Handed out in batches, so that the walk and the load seldom wait for each other's lock,
    // and the load seldom wakes the walk: a wake costs the load a call into the kernel, which
    // in a virtual machine costs as much as parsing a few thousand nodes.
    constexpr std::size_t kBatchNodes = 32768;
    if (doc_.nodes_.size() - handedOutAt_ < kBatchNodes) return;
    stream_->handOut(finished_);
    handedOutAt_ = doc_.nodes_.size();
  }

  // Runs a change that may move the document's storage: alone, while no walk reads it; the
  // document then notes where its storage lies.
  template <typename Grow>
  void growing(Grow&& grow) {
    std::unique_lock<std::shared_mutex> alone;
    if (stream_ != nullptr) alone = std::unique_lock(stream_->storage_);
    const XmlDocument::Storage before = doc_.at_;
    grow();
    doc_.noteStorage();
    // FillAhead would go on setting up pages of storage left behind.
    if (doc_.at_.nodes != before.nodes || doc_.at_.text != before.text) fillAhead_.reset();
  }

  // Tells FillAhead how far the nodes and the text have come, every kNodesPerFillReport nodes.
  void reportFill() {
    constexpr std::size_t kNodesPerFillReport = std::size_t{1} << 16;
    fillReportAt_ += kNodesPerFillReport;
    if (!fillAhead_) return;
    // Kept bytes move only for a file that grew while it was read.
    if (kept_ != nullptr && kept_->data() != keptAt_) {
      fillAhead_.reset();
      return;
    }
    const std::size_t written[] = {doc_.nodes_.size() * sizeof(XmlDocument::Node), doc_.text_.size(),
                                   kept_ != nullptr ? kept_->size() : 0};
    fillAhead_->reached(written);
  }

  void appendToArena(std::string_view piece) {
    std::string& arena = doc_.text_;
    if (arena.size() + piece.size() > arena.capacity()) {
      growing([&] { arena.reserve(std::max(2 * arena.capacity(), arena.size() + piece.size())); });
    }
    arena.append(piece);
  }

  void leaf(NodeKind kind, std::uint32_t name) {
    flushText();
    if (open_.empty()) return;  // instructions outside the document element are not walked
    XmlDocument::Node node;
    node.kindBits = static_cast<std::uint32_t>(kind);
    node.name = name;
    append(node);
  }

  // Comments keep their text and where they start, also outside the document element: the
  // command line reads its directives from them.
  void comment(std::string_view value) {
    flushText();
    const bool inProlog = open_.empty() && doc_.root_ == kNoNode;
    const bool inEpilog = open_.empty() && !inProlog;
    const SourcePosition at = startPosition("<!--");
    if (doc_.text_.size() + sizeof at + value.size() > kMaxArena) {
      tooLarge();
      return;
    }
    appendToArena({reinterpret_cast<const char*>(&at), sizeof at});
    XmlDocument::Node node;
    node.kindBits = static_cast<std::uint32_t>(NodeKind::Comment);
    node.name = kCommentName;
    node.first = static_cast<std::uint32_t>(doc_.text_.size());
    node.second = static_cast<std::uint32_t>(value.size());
    appendToArena(value);
    const NodeId id = append(node);
    if (id == kNoNode) return;
    if (inProlog) doc_.prolog_.push_back(id);
    if (inEpilog) doc_.epilog_.push_back(id);
    if (!inProlog && !inEpilog) doc_.inner_.push_back(id);
  }

  // Text arrives in pieces (chunks, entity expansions); it is gathered at the end of the
  // arena and becomes one node when something else starts, unless it is only blanks. Blanks,
  // most often the indentation between elements, wait aside until a piece that is more than
  // blanks joins them.
  void appendText(const char* text, std::size_t length) {
    if (open_.empty()) return;  // only blanks can lie outside the document element
    const std::string_view piece(text, length);
    if (!textOpen_) {
      if (std::all_of(piece.begin(), piece.end(), IsXmlBlank)) {
        // Blanks the parser hands over where markup follows, as indentation is, are dropped
        // with the markup's event: they need not wait aside.
        if (!markupFollows(piece)) blanks_.append(piece);
        return;
      }
      textOpen_ = true;
      textStart_ = doc_.text_.size();
      appendToArena(blanks_);
    }
    appendToArena(piece);
  }

  // Whether text the parser handed over lies in its input right before a '<'.
  bool markupFollows(std::string_view text) const {
    const xmlParserInput* input = current_ != nullptr ? current_->input : nullptr;
    const auto* end = reinterpret_cast<const xmlChar*>(text.data() + text.size());
    return input != nullptr && input->cur == end && end < input->end && *end == '<';
  }

  void flushText() {
    blanks_.clear();
    if (!textOpen_) return;
    textOpen_ = false;
    const std::string_view text = std::string_view(doc_.text_).substr(textStart_);
    if (doc_.text_.size() > kMaxArena) {
      tooLarge();
      return;
    }
    XmlDocument::Node node;
    node.kindBits = static_cast<std::uint32_t>(NodeKind::Text);
    node.name = kTextName;
    node.first = static_cast<std::uint32_t>(textStart_);
    node.second = static_cast<std::uint32_t>(text.size());
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
    std::vector<XmlDocument::Node>& nodes = doc_.nodes_;
    if (nodes.size() == nodes.capacity()) growing([&] { nodes.reserve(2 * nodes.capacity() + 16); });
    nodes.push_back(node);
    if (nodes.size() == fillReportAt_) reportFill();
    if (!open_.empty()) {
      OpenElement& parent = open_.back();
      if (parent.lastChild != kNoNode) nodes[parent.lastChild].nextSibling = id;
      parent.lastChild = id;
      XmlDocument::Node& parentNode = nodes[parent.id];
      if (parentNode.children < XmlDocument::kManyChildren) ++parentNode.children;
      if (open_.size() == 1 && node.kind() != NodeKind::Element) finishedRootChild(id);
    }
    return id;
  }

  // The parser calls us with its position just past the markup (a start tag's attributes, a
  // comment's "-->"); where it starts is found by looking back for its opener, which the
  // markup holds nowhere else. Markup that may be no more than `bytes` bytes (`chars`
  // characters on one line), as a start tag of its name alone is, is looked for there first.
  SourcePosition startPosition(std::string_view opener, std::uint32_t bytes = 0, std::uint32_t chars = 0) const {
    const xmlParserInput* input = ctxt_->input;
    SourcePosition at{static_cast<std::uint32_t>(std::max(input->line, 0)), 0};
    // An element an entity brought stands where the reference does, just behind the
    // document's position; looking back from there would cross the document's text once per
    // element.
    if (inExpansion()) {
      at.column = static_cast<std::uint32_t>(std::max(input->col, 0));
      return at;
    }
    if (input->base == nullptr || input->cur == nullptr) return at;
    const auto opensHere = [&](const xmlChar* at) {
      return static_cast<std::size_t>(input->end - at) >= opener.size() &&
             std::memcmp(at, opener.data(), opener.size()) == 0;
    };
    // Back to the nearest opener, found by its first byte, counting the line breaks and
    // characters passed on the way.
    const xmlChar* lt = input->cur;
    std::uint32_t breaks = 0;
    std::uint32_t back = 0;
    if (bytes > 0 && static_cast<std::size_t>(lt - input->base) >= bytes && opensHere(lt - bytes)) {
      lt -= bytes;
      back = chars;
    }
    while (!opensHere(lt)) {
      const ByteBehind behind = LastByteBefore(input->base, lt, static_cast<xmlChar>(opener.front()));
      if (behind.found == nullptr) return at;
      breaks += behind.lineFeeds;
      back += behind.chars;
      lt = behind.found;
    }
    at.line -= std::min(at.line, breaks);
    if (breaks == 0 && input->col > 0) {
      at.column = static_cast<std::uint32_t>(input->col) > back ? input->col - back : 1;
      return at;
    }
    const xmlChar* lineStart = lt;
    while (lineStart > input->base && lineStart[-1] != '\n') --lineStart;
    if (lineStart > input->base || input->line == 1) at.column = CountChars(lineStart, lt) + 1;
    return at;
  }

  void parserError(xmlParserCtxtPtr from, const xmlError& err) {
    // An entity the document uses but never declares is an error for the console's parser too.
    const bool undeclaredEntity = err.code == XML_WAR_UNDECLARED_ENTITY;
    if (err.level < XML_ERR_ERROR && !undeclaredEntity) return;
    // Inside an entity's expansion the parser counts the entity's own lines; the user needs
    // the line of the document where the reference stands.
    const bool inDocument = from == ctxt_ || ctxt_->input == nullptr;
    refuse(InUsersTerms(OneLineReason(err.message)), inDocument ? err.line : ctxt_->input->line,
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
    fail("Document too large: more than 4 GiB of text, 4 billion nodes or 134 million names", 0, 0);
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

  // Recently met names are found in 2^kRecentNameBits slots, picked by the pointers' hash.
  static constexpr int kRecentNameBits = 8;
  struct PointerPairHash {
    std::size_t operator()(const std::pair<const void*, const void*>& p) const {
      // Dictionary names lie a few bytes apart: multiplying spreads the bits that differ over
      // the top ones, which pick the slot.
      const std::uint64_t mixed =
          (reinterpret_cast<std::uintptr_t>(p.first) ^ (reinterpret_cast<std::uintptr_t>(p.second) << 1)) *
          0x9E3779B97F4A7C15ULL;
      return static_cast<std::size_t>(mixed >> (64 - kRecentNameBits));
    }
  };

  XmlDocument& doc_;
  StreamedLoad* stream_;
  const std::string* kept_;             // read only for how far it has come
  const char* keptAt_;                  // where the kept bytes lay when the load began
  std::vector<NodeId> finished_;        // children of the document element not handed out yet
  std::size_t handedOutAt_ = 0;         // the node count at the last hand-out
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
  std::string blanks_;  // the blanks since the last node, while no other text came
  std::string scratch_;
  TextIndex nameIds_;  // the position of each name in the document's names
  struct RecentName {
    std::pair<const void*, const void*> key{nullptr, nullptr};  // no name has a null address
    std::uint32_t id = 0;
    std::uint32_t bytes = 0;  // of the name as the tag writes it, "prefix:local" or "local"
    std::uint32_t chars = 0;
  };
  std::array<RecentName, std::size_t{1} << kRecentNameBits> recentNames_{};
  std::optional<LoadError> error_;
  // From this input size on, the document's storage is set up ahead of the load.
  static constexpr std::size_t kFillAheadFrom = std::size_t{8} << 20;
  std::optional<FillAhead> fillAhead_;
  std::size_t fillReportAt_ = 1;  // the node count at which reportFill runs next
};

namespace {

// The width of a document's code units and its line-end characters in them, as its first
// bytes show (XML 1.0, appendix F).
struct CodeUnits {
  std::size_t width = 1;
  std::string_view cr = "\r";  // empty: the encoding's line ends are left as they are
  std::string_view lf = "\n";
};

CodeUnits CodeUnitsOf(std::string_view start) {
  using namespace std::string_view_literals;
  static constexpr std::pair<std::string_view, CodeUnits> kStarts[] = {
      {"\0\0\0<"sv, {4, "\0\0\0\r"sv, "\0\0\0\n"sv}},
      {"<\0\0\0"sv, {4, "\r\0\0\0"sv, "\n\0\0\0"sv}},
      {"\0<\0?"sv, {2, "\0\r"sv, "\0\n"sv}},
      {"<\0?\0"sv, {2, "\r\0"sv, "\n\0"sv}},
      {"\xFE\xFF"sv, {2, "\0\r"sv, "\0\n"sv}},
      {"\xFF\xFE"sv, {2, "\r\0"sv, "\n\0"sv}},
      {"\x4C\x6F\xA7\x94"sv, {1, {}, {}}},  // EBCDIC, whose line ends depend on its code page
  };
  for (const auto& [bytes, units] : kStarts) {
    if (start.starts_with(bytes)) return units;
  }
  return {};
}

// Makes each line end a single line feed as the text passes, the way XML reads it: a CR LF
// pair or a lone CR is one line end (XML 1.0, section 2.11). The parser counts line feeds
// only, so its lines are then the lines a reader of the file sees.
class LineEnds {
 public:
  explicit LineEnds(CodeUnits units = {}) : units_(units) {}
  std::size_t width() const { return units_.width; }

  // Rewrites a piece of whole units (but for the text's last bytes) in place; returns its
  // new length. A CR at the end of one piece and a LF at the start of the next are one line end.
  std::size_t rewrite(char* piece, std::size_t size) {
    if (units_.cr.empty()) return size;
    const std::size_t w = units_.width;
    std::size_t in = afterCr_ && size >= w && Is(piece, units_.lf) ? w : 0;
    afterCr_ = false;
    std::size_t out = 0;
    while (in < size) {
      // The text up to the next CR stays as it is, moved over the LFs dropped before it.
      const std::size_t cr = nextCr(piece, in, size);
      if (out != in) std::memmove(piece + out, piece + in, cr - in);
      out += cr - in;
      if (cr == size) break;
      std::memcpy(piece + out, units_.lf.data(), w);
      out += w;
      in = cr + w;
      if (in == size) afterCr_ = true;
      if (in + w <= size && Is(piece + in, units_.lf)) in += w;
    }
    return out;
  }
  void rewrite(std::string& text) { text.resize(rewrite(text.data(), text.size())); }

 private:
  // Whether the unit at `at` is `unit`; compared byte by byte, as a unit is one to four bytes.
  static bool Is(const char* at, std::string_view unit) {
    for (std::size_t k = 0; k < unit.size(); ++k) {
      if (at[k] != unit[k]) return false;
    }
    return true;
  }

  // Where the first whole CR unit at or after from starts; size when there is none. The
  // search runs over the bytes, a unit is told by its place.
  std::size_t nextCr(const char* piece, std::size_t from, std::size_t size) const {
    const std::size_t w = units_.width;
    const std::size_t crByte = units_.cr.find('\r');
    for (std::size_t at = from; at + w <= size;) {
      const void* hit = std::memchr(piece + at + crByte, '\r', size - at - crByte);
      if (hit == nullptr) break;
      const auto byte = static_cast<std::size_t>(static_cast<const char*>(hit) - piece);
      const std::size_t unit = byte - crByte;
      if (unit % w == 0 && unit + w <= size && Is(piece + unit, units_.cr)) return unit;
      at = (byte / w + 1) * w;
    }
    return size;
  }

  CodeUnits units_;
  bool afterCr_ = false;
};

// Where the parser's bytes come from: an open file or a block of memory. The parser is handed
// them with their line ends made line feeds.
struct ByteSource {
  int fd = -1;
  std::string* kept = nullptr;  // where the file's bytes are kept as they are read, if anywhere
  std::string_view memory;
  std::size_t offset = 0;
  std::string readError;  // why the file could not be read
  // The whole file, read at once with its line ends made line feeds, for the parser to read
  // where it lies; empty when the parser has it read piece by piece.
  std::string whole;
  bool atEnd = false;                // the file's end was read
  std::optional<LineEnds> lineEnds;  // known from the first bytes
  std::unique_ptr<char[]> blockStorage;
  std::string_view block;  // read from the file, not handed to the parser yet

  static int Read(void* context, char* buffer, int len) {
    auto& self = *static_cast<ByteSource*>(context);
    const auto room = static_cast<std::size_t>(len);
    for (;;) {
      // Whole units only, so that no unit is cut between two pieces; before the first bytes
      // are known, the widest.
      const std::size_t unit = self.lineEnds ? self.lineEnds->width() : 4;
      const std::size_t n = self.readPiece(buffer, room >= unit ? room - room % unit : room);
      if (n == 0) return self.readError.empty() ? 0 : -1;
      if (!self.lineEnds) self.lineEnds.emplace(CodeUnitsOf(std::string_view(buffer, n)));
      // A piece that was only the LF of a CR LF is nothing to hand on, and no end either.
      if (const std::size_t kept = self.lineEnds->rewrite(buffer, n)) return static_cast<int>(kept);
    }
  }
  static int Close(void*) { return 0; }

  // Reads up to len bytes, fewer only at the end; 0 at the end or on failure (readError).
  std::size_t readPiece(char* buffer, std::size_t len) {
    if (fd < 0) {
      const std::size_t n = std::min(len, memory.size() - offset);
      std::memcpy(buffer, memory.data() + offset, n);
      offset += n;
      return n;
    }
    std::size_t done = 0;
    while (done < len && (!block.empty() || refill())) {
      const std::size_t n = std::min(len - done, block.size());
      std::memcpy(buffer + done, block.data(), n);
      block.remove_prefix(n);
      done += n;
    }
    return readError.empty() ? done : 0;
  }

  // The parser asks for a few kilobytes at a time; the file is read in larger blocks, which
  // saves most of the calls into the kernel.
  static constexpr std::size_t kBlockBytes = std::size_t{64} << 10;

  // The next block of the file in block; false at the end or on failure (readError).
  bool refill() {
    if (!blockStorage) blockStorage = std::make_unique_for_overwrite<char[]>(kBlockBytes);
    // The parser asks again after the end: it is not read for again.
    while (!atEnd) {
      const ssize_t n = ::read(fd, blockStorage.get(), kBlockBytes);
      atEnd = n == 0;
      if (n > 0) {
        block = std::string_view(blockStorage.get(), static_cast<std::size_t>(n));
        return keep(block);
      }
      if (n < 0 && errno != EINTR) {
        readError = ErrnoText(errno);
        return false;
      }
    }
    return false;
  }

  // Appends bytes read to kept; false when memory runs out, which fails the read.
  bool keep(std::string_view bytes) {
    if (kept == nullptr) return true;
    try {
      kept->append(bytes);
      return true;
    } catch (const std::bad_alloc&) {
      readError = ErrnoText(ENOMEM);
      block = {};
      return false;
    }
  }

  // Reads a file of size bytes whole, unless it is large (then the parser's pieces take less
  // memory) or kept; false when it is to be read piece by piece, or cannot be read.
  bool readWhole(std::size_t size) {
    if (size == 0 || size >= kReadWholeBelow || kept != nullptr) return false;
    std::optional<std::string> bytes = ReadOpenFile(fd, size, SIZE_MAX, readError);
    if (!bytes || bytes->empty()) return false;
    whole = std::move(*bytes);
    lineEnds.emplace(CodeUnitsOf(whole));
    whole.resize(lineEnds->rewrite(whole.data(), whole.size()));
    return true;
  }

  // Back to the file's start, to have it read piece by piece.
  void rewind() {
    whole.clear();
    lineEnds.reset();
    atEnd = false;
    block = {};
    if (::lseek(fd, 0, SEEK_SET) != 0) readError = ErrnoText(errno);
  }

  // Keeps the rest of the file too, where the parse stopped before its end.
  void keepRest() {
    if (kept == nullptr || fd < 0) return;
    while (refill()) block = {};
  }

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
  // unitWidth: the bytes of one code unit of the encoding, which an invalid one is skipped by.
  Utf8Reader(const std::string& encoding, std::size_t unitWidth) : unitWidth_(unitWidth) {
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
      const std::size_t skip = std::min(unitWidth_, inLeft);
      in += skip;
      inLeft -= skip;
    }
    pending_.erase(0, pending_.size() - inLeft);
  }

 private:
  // iconv_open's failure value, which its interface defines as a pointer made of -1.
  inline static const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
  iconv_t converter_ = kNoConverter;
  std::size_t unitWidth_;
  std::string pending_;
};

// The first characters of the document's line number `line`. The parser keeps only a window
// of the document in its buffer, which may have left the line's start behind, so the line
// is read again from the source, up to that line and no further.
std::string SourceLine(const ByteSource& source, const std::string& encoding, std::uint32_t line) {
  if (line == 0) return {};
  constexpr std::size_t kMaxBytes = 4 * (kSourceLineChars + 1);  // enough for any 41 characters
  Utf8Reader reader(encoding, source.lineEnds ? source.lineEnds->width() : 1);
  LineEnds lineEnds;  // in the UTF-8 text, as the parser's were in the document's
  std::uint32_t breaksToSkip = line - 1;
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
    lineEnds.rewrite(text);
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
    const std::size_t end = std::min(piece.find('\n'), kMaxBytes - wanted.size());
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

using ParserContext = std::unique_ptr<xmlParserCtxt, ParserContextDeleter>;

// The parser of one document's bytes: where they lie when the source holds them whole (the
// parser then never asks for more), else as it reads them piece by piece.
class DocumentParser {
 public:
  DocumentParser(const xmlSAXHandler& sax, ByteSource& source) {
    if (source.whole.empty()) {
      auto* handler = const_cast<xmlSAXHandler*>(&sax);  // copied, never written
      owned_.reset(xmlCreateIOParserCtxt(handler, nullptr, &ByteSource::Read, &ByteSource::Close, &source,
                                         XML_CHAR_ENCODING_NONE));
      ctxt_ = owned_.get();
    } else {
      ctxt_ = ReadingInPlace(sax, source.whole);
    }
  }
  ~DocumentParser() { end(); }
  DocumentParser(const DocumentParser&) = delete;
  DocumentParser& operator=(const DocumentParser&) = delete;

  xmlParserCtxtPtr get() const { return ctxt_; }
  // Ends the parse and frees what it made.
  void end() {
    if (ctxt_ != nullptr && owned_ == nullptr) Reset(ctxt_);
    owned_.reset();
    ctxt_ = nullptr;
  }

 private:
  // A thread's documents read in place share one context, reset after each: its dictionary
  // then already holds the names they have in common, and nothing is made again for each.
  // Once it has taken this many names from them it is made anew.
  static constexpr int kMostSharedNames = 100'000;

  static xmlParserCtxtPtr ReadingInPlace(const xmlSAXHandler& sax, const std::string& whole) {
    thread_local ParserContext shared;
    if (shared != nullptr && xmlDictSize(shared->dict) > kMostSharedNames) shared.reset();
    if (shared == nullptr) shared.reset(xmlNewParserCtxt());
    if (shared == nullptr || whole.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return nullptr;
    *shared->sax = sax;
    xmlParserInputBufferPtr bytes =
        xmlParserInputBufferCreateStatic(whole.data(), static_cast<int>(whole.size()), XML_CHAR_ENCODING_NONE);
    xmlParserInputPtr input =
        bytes != nullptr ? xmlNewIOInputStream(shared.get(), bytes, XML_CHAR_ENCODING_NONE) : nullptr;
    if (input == nullptr) {
      if (bytes != nullptr) xmlFreeParserInputBuffer(bytes);
      return nullptr;
    }
    inputPush(shared.get(), input);
    // The parser would shrink its input as it goes, which for bytes it does not own moves its
    // position back over text already parsed; and there is nothing to grow. Marked as fed
    // piece by piece, a parse that pulls does neither (the flag means nothing else to it).
    shared->progressive = 1;
    return shared.get();
  }

  // Frees the document's input and all the parse made, and forgets its state. The library's
  // reset forgets the namespaces of elements a stopped parse left open only where it has been
  // mended (as Debian's has).
  static void Reset(xmlParserCtxtPtr ctxt) {
    xmlCtxtReset(ctxt);
    ctxt->nsNr = 0;
    ctxt->_private = nullptr;
  }

  ParserContext owned_;
  xmlParserCtxtPtr ctxt_ = nullptr;
};

// doc: where the document is kept while it is built, and kept when the load fails; stream:
// where its finished parts are handed out, if anywhere.
LoadResult ParseWithin(ByteSource& source, const std::string& name, std::size_t size, std::unique_ptr<XmlDocument>& doc,
                       StreamedLoad* stream) {
  ConfigureLibxml();
  doc = std::make_unique<XmlDocument>();
  XmlDocumentBuilder builder(*doc, size, name, stream, source.kept);
  xmlSAXHandler sax{};
  XmlDocumentBuilder::Install(sax);
  DocumentParser parser(sax, source);
  xmlParserCtxtPtr ctxt = parser.get();
  if (ctxt == nullptr) return {nullptr, LoadError{"Cannot create the XML parser for " + name, 0, 0, true}};
  ctxt->_private = &builder;
  ctxt->userData = ctxt;
  builder.attach(ctxt);
  // The huge-document option lifts the parser's own guard against entity amplification, which
  // refuses modest nesting; the builder's count of the expansion bounds it instead. It also
  // lifts the parser's limits on depth and on the length of names, texts and tags, which
  // memory bounds as it bounds the file.
  xmlCtxtUseOptions(ctxt, XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  ctxt->sax->serror = sax.serror;  // the options above reset the plain handlers, not this one
  xmlParseDocument(ctxt);
  // Of a document it reads where it lies, the parser converts from another encoding only the
  // part up to the declaration; the rest it converts only as it reads piece by piece.
  if (!source.whole.empty() && !builder.encoding().empty()) {
    parser.end();
    source.rewind();
    return ParseWithin(source, name, size, doc, stream);
  }
  builder.finish();
  source.keepRest();
  const bool wellFormed = ctxt->wellFormed != 0;
  parser.end();

  if (!source.readError.empty()) {
    return {nullptr, LoadError{"Cannot read " + name + ": " + source.readError, 0, 0, true}};
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
LoadResult Parse(ByteSource& source, const std::string& name, std::size_t size, std::unique_ptr<XmlDocument>& doc,
                 StreamedLoad* stream = nullptr) {
  try {
    return ParseWithin(source, name, size, doc, stream);
  } catch (const std::bad_alloc&) {
    return {nullptr, LoadError{XmlDocumentBuilder::NotEnoughMemory(name), 0, 0}};
  }
}

LoadResult Parse(ByteSource& source, const std::string& name, std::size_t size) {
  std::unique_ptr<XmlDocument> doc;
  return Parse(source, name, size, doc);
}

// With kept, the file's bytes are kept there as they are read (empty when it cannot be read).
// Nothing for a file of `below` bytes or more, which is then left unread.
std::optional<LoadResult> LoadFile(const std::string& path, const FoundFile* found, std::unique_ptr<XmlDocument>& doc,
                                   StreamedLoad* stream, std::string* kept = nullptr,
                                   std::uint64_t below = UINT64_MAX) {
  if (kept != nullptr) kept->clear();
  std::string reason;
  std::uint64_t size = 0;
  const int fd = OpenRegularFile(path, reason, found, &size);
  if (fd < 0) return LoadResult{nullptr, LoadError{"Cannot open " + path + ": " + reason, 0, 0, true}};
  if (size >= below) {
    ::close(fd);
    return std::nullopt;
  }
  ByteSource source;
  source.fd = fd;
  source.kept = kept;
  LoadResult result;
  try {
    if (kept != nullptr) ReserveInHugePages(*kept, static_cast<std::size_t>(size) + 1);
    if (stream == nullptr) source.readWhole(static_cast<std::size_t>(size));
    result = Parse(source, path, static_cast<std::size_t>(size), doc, stream);
  } catch (const std::bad_alloc&) {
    result = {nullptr, LoadError{XmlDocumentBuilder::NotEnoughMemory(path), 0, 0}};
  }
  ::close(fd);
  if (kept != nullptr && result.error && result.error->unreadable) kept->clear();
  return result;
}

}  // namespace

LoadResult LoadXmlFile(const std::string& path, const FoundFile* found) {
  return *LoadSmallXmlFile(path, found, UINT64_MAX);
}

std::optional<LoadResult> LoadSmallXmlFile(const std::string& path, const FoundFile* found, std::uint64_t below,
                                           std::string* text) {
  std::unique_ptr<XmlDocument> doc;
  return LoadFile(path, found, doc, nullptr, text, below);
}

StreamedLoad::~StreamedLoad() {
  if (thread_.joinable()) thread_.join();
}

void StreamedLoad::start(const XmlDocument& document, NodeId root, std::size_t expectedNodes) {
  const std::lock_guard lock(mutex_);
  document_ = &document;
  root_ = root;
  expectedNodes_ = expectedNodes;
}

void StreamedLoad::handOut(std::vector<NodeId>& children) {
  {
    const std::lock_guard lock(mutex_);
    finished_.insert(finished_.end(), children.begin(), children.end());
  }
  children.clear();
  changed_.notify_one();
}

void StreamedLoad::end(LoadResult result) {
  {
    const std::lock_guard lock(mutex_);
    result_ = std::move(result);
    ended_ = true;
  }
  changed_.notify_one();
}

bool StreamedLoad::next(Part& part) {
  part.children.clear();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return ended_ || !finished_.empty(); });
  part.document = document_;
  part.root = root_;
  part.expectedNodes = expectedNodes_;
  part.children.swap(finished_);
  return !part.children.empty();
}

LoadResult StreamedLoad::result() {
  if (thread_.joinable()) thread_.join();
  return std::move(result_);
}

LoadResult LoadXmlFileKeepingText(const std::string& path, std::string& text, const FoundFile* found) {
  return *LoadSmallXmlFile(path, found, UINT64_MAX, &text);
}

LoadResult LoadXmlMemory(std::string_view content, const std::string& name) {
  ByteSource source;
  source.memory = content;
  return Parse(source, name, content.size());
}

StreamedLoad::StreamedLoad(const std::string& path, const std::optional<FoundFile>& found, std::string* kept) {
  run(path, [this, path, found, kept] { return *LoadFile(path, found ? &*found : nullptr, built_, this, kept); });
}

template <typename Load>
void StreamedLoad::run(const std::string& name, Load load) {
  auto body = [this, name, load = std::move(load)] {
    LoadResult loaded;
    try {
      loaded = load();
    } catch (const std::bad_alloc&) {
      loaded = {nullptr, LoadError{XmlDocumentBuilder::NotEnoughMemory(name), 0, 0}};
    }
    end(std::move(loaded));
  };
  // Where the system refuses another thread the load runs here, whole, before the walk.
  try {
    thread_ = std::thread(body);
  } catch (const std::system_error&) {
    body();
  }
}

}  // namespace corvane
