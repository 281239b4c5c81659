#include "ldap_connection.h"

#include <pthread.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "d_util.h"
#include "file_read.h"
#include "ldap_library.h"

namespace corvane::client {
namespace {

using Clock = std::chrono::steady_clock;

// The library's functions, called only once LdapConnection::open has loaded it.
const LdapLibrary& Ldap() {
  std::string unused;
  return *LoadLdapLibrary(unused);
}

// No answer the client asks for comes near this: the subschema entry of a large directory
// is a few megabytes.
constexpr ber_len_t kLargestAnswerBytes = 64 << 20;
// The same bounds for everything a tree's server sends, however it is cut into messages.
constexpr std::size_t kLargestTreeBytes = 64 << 20;
constexpr std::size_t kMostTreeValues = 1'000'000;
// A password is one short line; a file is read no further than this.
constexpr std::size_t kLongestPasswordLine = 4096;
// A bundle of all the world's public authorities is a few hundred kilobytes.
constexpr off_t kLargestCaFile = 16 << 20;

std::string Seconds(int seconds) { return std::to_string(seconds) + " s"; }

// "what: the library's text (LDAP result N)".
std::string Failure(const std::string& what, int rc) {
  return what + ": " + Ldap().ldap_err2string(rc) + " (LDAP result " + std::to_string(rc) + ")";
}

// The password is the first line of a file that only its owner may read, refused like a
// private key that others can read, since a shared password gives the directory away.
bool ReadPassword(const std::string& path, std::string& password, std::string& error) {
  std::string reason;
  const auto unreadable = [&] {
    error = "cannot read the password file " + path + ": " + reason;
    return false;
  };
  const int fd = OpenRegularFile(path, reason);
  if (fd < 0) return unreadable();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    ::close(fd);
    error = "the password file " + path + " is open to others (mode " + ZeroPadded(st.st_mode & 07777, 8, 4) +
            "); make it private with: chmod 600 " + path;
    return false;
  }
  std::optional<std::string> content = ReadAtMost(fd, kLongestPasswordLine + 1, reason);
  if (!content) return unreadable();
  std::string& text = *content;
  const bool tooLong = text.find('\n') == std::string::npos && text.size() > kLongestPasswordLine;
  if (!tooLong) password = TrimRightChars(StrBefore(text, "\n", true), "\r");
  explicit_bzero(text.data(), text.size());
  if (!tooLong) return true;
  reason = "its first line is longer than " + std::to_string(kLongestPasswordLine / 1024) + " KiB";
  return unreadable();
}

// Holds off SIGPIPE in this thread while the library writes to a socket that the server or
// the stall guard may have closed: the library's writes cannot ask for MSG_NOSIGNAL, and the
// signal would end the program before the failure is told. A SIGPIPE raised meanwhile is
// taken away; one the thread had waiting before stays.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    waitingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &previous_);
  }
  ~SigpipeHeld() {
    const int error = errno;
    sigset_t pipe, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pending);
    if (!waitingBefore_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{0, 0};
      while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = error;
  }
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;

 private:
  sigset_t previous_{};
  bool waitingBefore_ = false;
};

// Ends a step that waits longer than the time-out by shutting the connection's socket down.
// The library bounds its own waits for connections and answers, but a TLS handshake with a
// server that never answers would wait for ever.
class StallGuard {
 public:
  explicit StallGuard(int seconds) : limit_(seconds), watcher_([this] { watch(); }) {}
  ~StallGuard() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_one();
    watcher_.join();
  }

  void setSocket(int fd) {
    const std::lock_guard lock(mutex_);
    socket_ = fd;
  }
  // Runs one step under the time-out; true when the guard had to end it.
  template <class Step>
  bool run(Step&& step) {
    arm(Clock::now() + limit_);
    step();
    return disarm();
  }

 private:
  void arm(Clock::time_point deadline) {
    {
      const std::lock_guard lock(mutex_);
      deadline_ = deadline;
      fired_ = false;
    }
    changed_.notify_one();
  }
  bool disarm() {
    const std::lock_guard lock(mutex_);
    deadline_.reset();
    return fired_;
  }
  void watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (!deadline_) {
        changed_.wait(lock);
      } else if (changed_.wait_until(lock, *deadline_) == std::cv_status::timeout && deadline_ &&
                 Clock::now() >= *deadline_) {
        if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
        fired_ = true;
        deadline_.reset();
      }
    }
  }

  std::chrono::seconds limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<Clock::time_point> deadline_;
  int socket_ = -1;
  bool fired_ = false;
  bool stopping_ = false;
  std::thread watcher_;
};

// The library tells why a TLS handshake failed only in its trace log, so the log is caught
// while a connection is secured and its "TLS: " lines are kept.
class TlsLogCapture {
  // The library's trace level, where it writes its TLS verdicts; its header is private.
  static constexpr int kTraceLevel = 0x0001;

 public:
  TlsLogCapture() {
    lines().clear();
    Ldap().ber_get_option(nullptr, LBER_OPT_LOG_PRINT_FN, &previousPrinter_);
    Ldap().ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &previousLevel_);
    Ldap().ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN, reinterpret_cast<void*>(&Keep));
    Ldap().ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &kTraceLevel);
  }
  ~TlsLogCapture() {
    Ldap().ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &previousLevel_);
    Ldap().ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN, reinterpret_cast<void*>(previousPrinter_));
  }
  TlsLogCapture(const TlsLogCapture&) = delete;
  TlsLogCapture& operator=(const TlsLogCapture&) = delete;

  // The TLS lines, "; " between, without their prefix and the library's closing words.
  static std::string tlsReasons() {
    std::string out;
    for (std::string_view rest = lines(); !rest.empty();) {
      const std::size_t end = std::min(rest.find('\n'), rest.size());
      const std::string_view line = rest.substr(0, end);
      rest.remove_prefix(std::min(end + 1, rest.size()));
      if (!line.starts_with("TLS: ") || line.starts_with("TLS: can't connect")) continue;
      out.append(out.empty() ? "" : "; ").append(TrimRightChars(line.substr(5), ". "));
    }
    return out;
  }

 private:
  static std::string& lines() {
    static std::string captured;
    return captured;
  }
  static void Keep(const char* text) {
    if (std::strncmp(text, "TLS: ", 5) == 0) lines().append(text);
  }

  BER_LOG_PRINT_FN previousPrinter_ = nullptr;
  int previousLevel_ = 0;
};

bool LooksLikeCertificateTrouble(const std::string& reasons) {
  return PosText("cert", reasons) != 0 || PosText("hostname", reasons) != 0;
}

}  // namespace

struct LdapConnection::Session {
  explicit Session(int timeoutSeconds) : timeoutSeconds(timeoutSeconds), guard(timeoutSeconds) {}
  ~Session() {
    const SigpipeHeld held;
    if (ld) Ldap().ldap_unbind_ext_s(ld, nullptr, nullptr);
  }

  // Runs a library call under the guard; a stall becomes LDAP_TIMEOUT.
  template <class Call>
  int guarded(Call&& call) {
    const SigpipeHeld held;
    int rc = LDAP_OTHER;
    if (guard.run([&] { rc = call(); })) rc = LDAP_TIMEOUT;
    return rc;
  }
  std::string stalled(const std::string& step) const {
    return "no answer from " + url + " within " + Seconds(timeoutSeconds) + " while " + step + " (LDAP result " +
           std::to_string(LDAP_TIMEOUT) + ")";
  }

  bool initialize(const ConnectionConfig& config, std::string& error);
  bool secure(const ConnectionConfig& config, std::string& error);
  bool bind(const ConnectionConfig& config, std::string& password, std::string& error);
  // Reads the answers of search msgid to their end and returns the search's result code; an
  // answer past the tree's bounds is cut off with the bound it passed in overBound.
  int collect(int msgid, const std::vector<const char*>& attributes, EntryValues& values, bool& found,
              std::string& overBound);

  static int SocketAdded(LDAP*, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb* callback) {
    int fd = -1;
    Ldap().ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd);
    // The library would otherwise make room for whatever size a server announces.
    ber_len_t largest = kLargestAnswerBytes;
    Ldap().ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &largest);
    static_cast<Session*>(callback->lc_arg)->guard.setSocket(fd);
    return 0;
  }
  static void SocketRemoved(LDAP*, Sockbuf*, ldap_conncb* callback) {
    static_cast<Session*>(callback->lc_arg)->guard.setSocket(-1);
  }

  int timeoutSeconds;
  std::string url;
  bool tls = false;                               // ldaps:// or StartTLS
  std::string caFile;                             // the trusted certificates
  std::size_t answerBytes = 0, answerValues = 0;  // all that the server sent so far
  StallGuard guard;
  ldap_conncb socketWatch{&SocketAdded, &SocketRemoved, this};
  LDAP* ld = nullptr;
};

bool LdapConnection::Session::initialize(const ConnectionConfig& config, std::string& error) {
  url = config.url;
  tls = config.startTls || url.starts_with("ldaps:");
  caFile = config.tlsCaFile.empty() ? kSystemCaFile : config.tlsCaFile;
  if (const int rc = Ldap().ldap_initialize(&ld, url.c_str()); rc != LDAP_SUCCESS) {
    error = Failure("invalid URL " + url, rc);
    return false;
  }
  const int version = LDAP_VERSION3;
  const timeval timeout{timeoutSeconds, 0};
  Ldap().ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  Ldap().ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  Ldap().ldap_set_option(ld, LDAP_OPT_TIMEOUT, &timeout);
  Ldap().ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  Ldap().ldap_set_option(ld, LDAP_OPT_CONNECT_CB, &socketWatch);
  // A plain connection loads no certificates: only TLS can fail on the CA file.
  if (!tls) return true;
  std::string reason;
  const int fd = OpenRegularFile(caFile, reason);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > kLargestCaFile)
    reason = "larger than " + std::to_string(kLargestCaFile >> 20) + " MiB, which no bundle of certificates is";
  if (fd >= 0) ::close(fd);
  if (!reason.empty()) {
    // Without trusted certificates no TLS connection could be verified.
    error = "cannot read the CA file " + caFile + ": " + reason;
    return false;
  }
  const int demand = LDAP_OPT_X_TLS_DEMAND;
  const int newContext = 0;
  Ldap().ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
  Ldap().ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, caFile.c_str());
  const TlsLogCapture log;
  if (const int rc = Ldap().ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &newContext); rc != LDAP_SUCCESS) {
    // The library's own text, "Can't contact LDAP server", would blame the server.
    const std::string reasons = TlsLogCapture::tlsReasons();
    error = "cannot use the CA file " + caFile + ": " +
            (reasons.empty() ? std::string("no certificate in it can be read") : reasons) + " (LDAP result " +
            std::to_string(rc) + ")";
    return false;
  }
  return true;
}

// Connects, and for ldaps:// or StartTLS completes the handshake, before any password is
// sent. A failed StartTLS ends the connection: it never goes on in plain text.
bool LdapConnection::Session::secure(const ConnectionConfig& config, std::string& error) {
  std::optional<TlsLogCapture> log;
  if (tls) log.emplace();
  int rc = guarded([&] { return Ldap().ldap_connect(ld); });
  std::string step = "connecting";
  // Over ldaps:// the connection is already secured; StartTLS would be refused.
  if (rc == LDAP_SUCCESS && config.startTls && !url.starts_with("ldaps:")) {
    step = "starting TLS";
    rc = guarded([&] { return Ldap().ldap_start_tls_s(ld, nullptr, nullptr); });
  }
  if (rc == LDAP_SUCCESS) return true;
  const std::string reasons = tls ? TlsLogCapture::tlsReasons() : std::string();
  if (rc == LDAP_TIMEOUT)
    error = stalled(step);
  else if (LooksLikeCertificateTrouble(reasons))
    error = "certificate not trusted: " + reasons + " (trusted certificates: " + caFile + ")";
  else if (!reasons.empty())
    error = Failure("TLS with " + url + " failed (" + reasons + ")", rc);
  else
    error = Failure((step == "connecting" ? "cannot connect to " : "StartTLS refused by ") + url, rc);
  return false;
}

bool LdapConnection::Session::bind(const ConnectionConfig& config, std::string& password, std::string& error) {
  berval credentials{password.size(), password.data()};
  const char* dn = config.bindDn.empty() ? nullptr : config.bindDn.c_str();
  const int rc = guarded(
      [&] { return Ldap().ldap_sasl_bind_s(ld, dn, LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr); });
  if (rc == LDAP_SUCCESS) return true;
  const std::string who = dn ? "bind as " + config.bindDn : "anonymous bind";
  if (rc == LDAP_TIMEOUT)
    error = stalled(dn ? "binding as " + config.bindDn : "binding anonymously");
  else if (rc == LDAP_SERVER_DOWN)
    error = Failure(who + ": connection to " + url + " lost", rc);
  else
    error = Failure(who + " refused", rc);
  return false;
}

LdapConnection::LdapConnection() = default;
LdapConnection::~LdapConnection() = default;

bool LdapConnection::open(const ConnectionConfig& config, std::string& error) {
  if (LoadLdapLibrary(error) == nullptr) return false;
  session_ = std::make_unique<Session>(config.timeoutSeconds);
  // A mistake in the connection's own files shows before the server is asked anything.
  std::string password;
  const bool bound = session_->initialize(config, error) &&
                     (config.passwordFile.empty() || ReadPassword(config.passwordFile, password, error)) &&
                     session_->secure(config, error) && session_->bind(config, password, error);
  explicit_bzero(password.data(), password.size());
  return bound;
}

// The answers are taken one at a time and counted as they come, so that a server cannot
// make the client hold more than the bounds, however it cuts its answer into messages. Only
// the first entry is kept: a base search has no other.
int LdapConnection::Session::collect(int msgid, const std::vector<const char*>& attributes, EntryValues& values,
                                     bool& found, std::string& overBound) {
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) return LDAP_TIMEOUT;
    timeval wait{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
    LDAPMessage* message = nullptr;
    errno = 0;
    const int type = Ldap().ldap_result(ld, msgid, LDAP_MSG_ONE, &wait, &message);
    // A message whose type is not one of LDAP's comes back as type 0 too, beside a time-out.
    const std::unique_ptr<LDAPMessage, int (*)(LDAPMessage*)> owned(message, Ldap().ldap_msgfree);
    if (type == 0 && !message) return LDAP_TIMEOUT;
    if (type < 0) {
      const int error = errno;
      int rc = LDAP_OTHER;
      Ldap().ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
      errno = error;
      return rc;
    }
    if (type == LDAP_RES_SEARCH_RESULT) {
      int rc = LDAP_OTHER;
      if (const int parsed = Ldap().ldap_parse_result(ld, message, &rc, nullptr, nullptr, nullptr, nullptr, 0);
          parsed != LDAP_SUCCESS)
        return parsed;
      return rc;
    }
    // The library takes any other message as the end of the search, with nothing after it.
    if (type != LDAP_RES_SEARCH_ENTRY && type != LDAP_RES_SEARCH_REFERENCE && type != LDAP_RES_INTERMEDIATE)
      return LDAP_PROTOCOL_ERROR;
    // Every message counts as a value, so that empty ones cannot come without end either.
    ++answerValues;
    BerElement* ber = nullptr;
    berval dn{};
    if (type == LDAP_RES_SEARCH_ENTRY && Ldap().ldap_get_dn_ber(ld, message, &ber, &dn) == LDAP_SUCCESS) {
      const bool keep = !found;
      if (keep) values.assign(attributes.size(), {});
      found = true;
      ber_len_t rest = 0;
      Ldap().ber_get_option(ber, LBER_OPT_REMAINING_BYTES, &rest);
      answerBytes += dn.bv_len + rest;
      berval name{};
      berval* list = nullptr;
      while (answerBytes <= kLargestTreeBytes && answerValues <= kMostTreeValues &&
             Ldap().ldap_get_attribute_ber(ld, message, ber, &name, &list) == LDAP_SUCCESS && name.bv_val) {
        std::size_t count = 0;
        while (list && list[count].bv_val) ++count;
        answerValues += count;
        for (std::size_t i = 0; keep && i < attributes.size(); ++i)
          if (strncasecmp(name.bv_val, attributes[i], name.bv_len) == 0 && attributes[i][name.bv_len] == '\0')
            for (std::size_t v = 0; v < count && answerValues <= kMostTreeValues; ++v)
              values[i].emplace_back(list[v].bv_val, list[v].bv_len);
        Ldap().ber_memfree(list);
        list = nullptr;
      }
    }
    if (ber) Ldap().ber_free(ber, 0);
    if (answerBytes > kLargestTreeBytes)
      overBound = "is larger than " + std::to_string(kLargestTreeBytes >> 20) + " MiB in all";
    else if (answerValues > kMostTreeValues)
      overBound = "holds more than 1,000,000 values";
    if (!overBound.empty()) {
      // Nothing more of this server is wanted: the rest of its answer is not waited for.
      int fd = -1;
      if (Ldap().ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS && fd >= 0) ::shutdown(fd, SHUT_RDWR);
      return LDAP_SIZELIMIT_EXCEEDED;
    }
  }
}

bool LdapConnection::readEntry(const std::string& dn, const char* filter, const std::vector<const char*>& attributes,
                               EntryValues& values, std::string& error) {
  Session& s = *session_;
  std::vector<char*> names;
  names.reserve(attributes.size() + 1);
  for (const char* attribute : attributes) names.push_back(const_cast<char*>(attribute));
  names.push_back(nullptr);
  timeval timeout{s.timeoutSeconds, 0};
  bool found = false;
  std::string overBound;
  errno = 0;
  const int rc = s.guarded([&] {
    int msgid = 0;
    const int sent = Ldap().ldap_search_ext(s.ld, dn.c_str(), LDAP_SCOPE_BASE, filter, names.data(), 0, nullptr,
                                            nullptr, &timeout, 1, &msgid);
    return sent != LDAP_SUCCESS ? sent : s.collect(msgid, attributes, values, found, overBound);
  });
  // The library drops a connection whose answer is announced larger than allowed, and says
  // so only in errno.
  const bool oversized = rc == LDAP_SERVER_DOWN && errno == ERANGE;
  const std::string what = "reading " + (dn.empty() ? std::string("the root entry") : dn);
  error.clear();
  if (!overBound.empty())
    error = what + ": the answer of " + s.url + " " + overBound + "; connection closed";
  else if (rc == LDAP_TIMEOUT)
    error = s.stalled(what);
  else if (oversized)
    error = Failure(what + ": the answer of " + s.url + " is announced larger than " +
                        std::to_string(kLargestAnswerBytes >> 20) + " MiB; connection closed",
                    rc);
  else if (rc == LDAP_SERVER_DOWN)
    error = Failure(what + ": connection to " + s.url + " lost", rc);
  else if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT)
    error = Failure(what + " failed", rc);
  return error.empty() && rc == LDAP_SUCCESS && found;
}

}  // namespace corvane::client
