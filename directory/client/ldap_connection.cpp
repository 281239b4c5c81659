#include "ldap_connection.h"

#include <lber.h>
#include <ldap.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "d_util.h"
#include "file_read.h"

namespace corvane::client {
namespace {

using Clock = std::chrono::steady_clock;

// No answer the client asks for comes near this: the subschema entry of a large directory
// is a few megabytes.
constexpr ber_len_t kLargestAnswerBytes = 64 << 20;

std::string Seconds(int seconds) { return std::to_string(seconds) + " s"; }

// "what: the library's text (LDAP result N)".
std::string Failure(const std::string& what, int rc) {
  return what + ": " + ldap_err2string(rc) + " (LDAP result " + std::to_string(rc) + ")";
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
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    error = std::string("the password file ") + path + " is open to others (mode " + mode +
            "); make it private with: chmod 600 " + path;
    return false;
  }
  std::optional<std::string> content = ReadToEnd(fd, reason);
  if (!content) return unreadable();
  password = TrimRightChars(StrBefore(*content, "\n", true), "\r");
  explicit_bzero(content->data(), content->size());
  return true;
}

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
    ber_get_option(nullptr, LBER_OPT_LOG_PRINT_FN, &previousPrinter_);
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &previousLevel_);
    ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN, reinterpret_cast<void*>(&Keep));
    ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &kTraceLevel);
  }
  ~TlsLogCapture() {
    ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &previousLevel_);
    ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN, reinterpret_cast<void*>(previousPrinter_));
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
    if (ld) ldap_unbind_ext_s(ld, nullptr, nullptr);
  }

  // Runs a library call under the guard; a stall becomes LDAP_TIMEOUT.
  template <class Call>
  int guarded(Call&& call) {
    int rc = LDAP_OTHER;
    if (guard.run([&] { rc = call(); })) rc = LDAP_TIMEOUT;
    return rc;
  }
  std::string stalled(const std::string& step) const {
    return "no answer from " + url + " within " + Seconds(timeoutSeconds) + " while " + step +
           " (LDAP result " + std::to_string(LDAP_TIMEOUT) + ")";
  }

  bool initialize(const ConnectionConfig& config, std::string& error);
  bool secure(const ConnectionConfig& config, std::string& error);
  bool bind(const ConnectionConfig& config, std::string& password, std::string& error);

  static int SocketAdded(LDAP*, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb* callback) {
    int fd = -1;
    ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd);
    // The library would otherwise make room for whatever size a server announces.
    ber_len_t largest = kLargestAnswerBytes;
    ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &largest);
    static_cast<Session*>(callback->lc_arg)->guard.setSocket(fd);
    return 0;
  }
  static void SocketRemoved(LDAP*, Sockbuf*, ldap_conncb* callback) {
    static_cast<Session*>(callback->lc_arg)->guard.setSocket(-1);
  }

  int timeoutSeconds;
  std::string url;
  bool tls = false;    // ldaps:// or StartTLS
  std::string caFile;  // the trusted certificates
  StallGuard guard;
  ldap_conncb socketWatch{&SocketAdded, &SocketRemoved, this};
  LDAP* ld = nullptr;
};

bool LdapConnection::Session::initialize(const ConnectionConfig& config, std::string& error) {
  url = config.url;
  tls = config.startTls || url.starts_with("ldaps:");
  caFile = config.tlsCaFile.empty() ? kSystemCaFile : config.tlsCaFile;
  if (const int rc = ldap_initialize(&ld, url.c_str()); rc != LDAP_SUCCESS) {
    error = Failure("invalid URL " + url, rc);
    return false;
  }
  std::string reason;
  if (const int fd = OpenRegularFile(caFile, reason); fd < 0) {
    // Without trusted certificates no TLS connection could be verified.
    if (tls || !config.tlsCaFile.empty()) {
      error = "cannot read the trusted certificates " + caFile + ": " + reason;
      return false;
    }
  } else {
    ::close(fd);
  }
  const int version = LDAP_VERSION3;
  const timeval timeout{timeoutSeconds, 0};
  const int demand = LDAP_OPT_X_TLS_DEMAND;
  const int newContext = 0;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &timeout);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld, LDAP_OPT_CONNECT_CB, &socketWatch);
  ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
  ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, caFile.c_str());
  if (const int rc = ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &newContext); rc != LDAP_SUCCESS) {
    error = Failure("cannot set up TLS with " + caFile, rc);
    return false;
  }
  return true;
}

// Connects, and for ldaps:// or StartTLS completes the handshake, before any password is
// sent. A failed StartTLS ends the connection: it never goes on in plain text.
bool LdapConnection::Session::secure(const ConnectionConfig& config, std::string& error) {
  std::optional<TlsLogCapture> log;
  if (tls) log.emplace();
  int rc = guarded([&] { return ldap_connect(ld); });
  std::string step = "connecting";
  // Over ldaps:// the connection is already secured; StartTLS would be refused.
  if (rc == LDAP_SUCCESS && config.startTls && !url.starts_with("ldaps:")) {
    step = "starting TLS";
    rc = guarded([&] { return ldap_start_tls_s(ld, nullptr, nullptr); });
  }
  if (rc == LDAP_SUCCESS) return true;
  const std::string reasons = tls ? TlsLogCapture::tlsReasons() : std::string();
  if (rc == LDAP_TIMEOUT) error = stalled(step);
  else if (LooksLikeCertificateTrouble(reasons))
    error = "certificate not trusted: " + reasons + " (trusted certificates: " + caFile + ")";
  else if (!reasons.empty()) error = Failure("TLS with " + url + " failed (" + reasons + ")", rc);
  else error = Failure((step == "connecting" ? "cannot connect to " : "StartTLS refused by ") + url, rc);
  return false;
}

bool LdapConnection::Session::bind(const ConnectionConfig& config, std::string& password, std::string& error) {
  berval credentials{password.size(), password.data()};
  const char* dn = config.bindDn.empty() ? nullptr : config.bindDn.c_str();
  const int rc = guarded([&] { return ldap_sasl_bind_s(ld, dn, LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr); });
  if (rc == LDAP_SUCCESS) return true;
  const std::string who = dn ? "bind as " + config.bindDn : "anonymous bind";
  if (rc == LDAP_TIMEOUT) error = stalled(dn ? "binding as " + config.bindDn : "binding anonymously");
  else if (rc == LDAP_SERVER_DOWN) error = Failure(who + ": connection to " + url + " lost", rc);
  else error = Failure(who + " refused", rc);
  return false;
}

LdapConnection::LdapConnection() = default;
LdapConnection::~LdapConnection() = default;

bool LdapConnection::open(const ConnectionConfig& config, std::string& error) {
  session_ = std::make_unique<Session>(config.timeoutSeconds);
  // A mistake in the connection's own files shows before the server is asked anything.
  std::string password;
  const bool bound = session_->initialize(config, error) &&
                     (config.passwordFile.empty() || ReadPassword(config.passwordFile, password, error)) &&
                     session_->secure(config, error) && session_->bind(config, password, error);
  explicit_bzero(password.data(), password.size());
  return bound;
}

bool LdapConnection::readEntry(const std::string& dn, const char* filter, const std::vector<const char*>& attributes,
                               EntryValues& values, std::string& error) {
  Session& s = *session_;
  std::vector<char*> names;
  for (const char* attribute : attributes) names.push_back(const_cast<char*>(attribute));
  names.push_back(nullptr);
  LDAPMessage* result = nullptr;
  timeval timeout{s.timeoutSeconds, 0};
  errno = 0;
  const int rc = s.guarded([&] {
    return ldap_search_ext_s(s.ld, dn.c_str(), LDAP_SCOPE_BASE, filter, names.data(), 0, nullptr, nullptr, &timeout,
                             1, &result);
  });
  // The library drops a connection whose answer is announced larger than allowed, and says
  // so only in errno.
  const bool oversized = rc == LDAP_SERVER_DOWN && errno == ERANGE;
  const std::unique_ptr<LDAPMessage, int (*)(LDAPMessage*)> owned(result, &ldap_msgfree);
  const std::string what = "reading " + (dn.empty() ? std::string("the root entry") : dn);
  error.clear();
  if (rc == LDAP_TIMEOUT) error = s.stalled(what);
  else if (oversized)
    error = Failure(what + ": the answer of " + s.url + " is announced larger than " +
                        std::to_string(kLargestAnswerBytes >> 20) + " MiB; connection closed",
                    rc);
  else if (rc == LDAP_SERVER_DOWN) error = Failure(what + ": connection to " + s.url + " lost", rc);
  else if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT) error = Failure(what + " failed", rc);
  LDAPMessage* entry = rc == LDAP_SUCCESS ? ldap_first_entry(s.ld, result) : nullptr;
  if (!entry) return false;
  values.clear();
  for (const char* attribute : attributes) {
    values.emplace_back();
    berval** found = ldap_get_values_len(s.ld, entry, attribute);
    for (int i = 0; found && found[i]; ++i) values.back().emplace_back(found[i]->bv_val, found[i]->bv_len);
    ldap_value_free_len(found);
  }
  return true;
}

}  // namespace corvane::client
