#include "ldap_schema.h"

#include <ldap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "d_util.h"
#include "file_read.h"

namespace corvane::client {
namespace {

constexpr int kTimeoutSeconds = 10;
constexpr const char* kDefaultSubschema = "cn=Subschema";

struct LdapCloser {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
struct MessageFreer {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using LdapHandle = std::unique_ptr<LDAP, LdapCloser>;
using Message = std::unique_ptr<LDAPMessage, MessageFreer>;

std::string Reason(const char* what, int rc) { return std::string(what) + ": " + ldap_err2string(rc); }

// The password is the first line of a file that only its owner may read, refused like a
// private key that others can read, since a shared password gives the directory away.
bool ReadPassword(const std::string& path, std::string& password, std::string& error) {
  std::string reason;
  const int fd = OpenRegularFile(path, reason);
  if (fd < 0) {
    error = "cannot read the password file " + path + ": " + reason;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    ::close(fd);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    error = std::string("the password file ") + path + " is open to others (mode " + mode +
            "); make it private with: chmod 600 " + path;
    return false;
  }
  std::string content;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) content.append(buffer, static_cast<std::size_t>(n));
  const int readError = n < 0 ? errno : 0;
  ::close(fd);
  explicit_bzero(buffer, sizeof buffer);
  if (readError != 0) {
    error = "cannot read the password file " + path + ": " + std::strerror(readError);
    return false;
  }
  password = TrimRightChars(StrBefore(content, "\n", true), "\r");
  explicit_bzero(content.data(), content.size());
  return true;
}

bool Connect(const ConnectionConfig& config, LdapHandle& handle, std::string& error) {
  LDAP* ld = nullptr;
  if (const int rc = ldap_initialize(&ld, config.url.c_str()); rc != LDAP_SUCCESS) {
    error = Reason("invalid URL", rc);
    return false;
  }
  handle.reset(ld);
  const int version = LDAP_VERSION3;
  const timeval timeout{kTimeoutSeconds, 0};
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &timeout);
  std::string password;
  if (!config.passwordFile.empty() && !ReadPassword(config.passwordFile, password, error)) return false;
  berval credentials{password.size(), password.data()};
  const char* dn = config.bindDn.empty() ? nullptr : config.bindDn.c_str();
  const int rc = ldap_sasl_bind_s(ld, dn, LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
  explicit_bzero(password.data(), password.size());
  if (rc != LDAP_SUCCESS) error = Reason("bind failed", rc);
  return rc == LDAP_SUCCESS;
}

// The one entry at base with the given attributes, or null.
Message ReadEntry(LDAP* ld, const char* base, const char* filter, const char** attributes, int& rc) {
  LDAPMessage* result = nullptr;
  timeval timeout{kTimeoutSeconds, 0};
  rc = ldap_search_ext_s(ld, base, LDAP_SCOPE_BASE, filter, const_cast<char**>(attributes), 0, nullptr, nullptr,
                         &timeout, 1, &result);
  Message message(result);
  return rc == LDAP_SUCCESS ? std::move(message) : nullptr;
}

std::vector<std::string> Values(LDAP* ld, LDAPMessage* entry, const char* attribute) {
  std::vector<std::string> out;
  berval** values = ldap_get_values_len(ld, entry, attribute);
  for (int i = 0; values && values[i]; ++i) out.emplace_back(values[i]->bv_val, values[i]->bv_len);
  ldap_value_free_len(values);
  return out;
}

// The root entry names the subschema entry; servers that do not say use the usual name.
std::string SubschemaEntry(LDAP* ld) {
  const char* attributes[] = {"subschemaSubentry", nullptr};
  int rc = 0;
  const Message root = ReadEntry(ld, "", "(objectClass=*)", attributes, rc);
  LDAPMessage* entry = root ? ldap_first_entry(ld, root.get()) : nullptr;
  const std::vector<std::string> names = entry ? Values(ld, entry, "subschemaSubentry") : std::vector<std::string>{};
  return names.empty() ? kDefaultSubschema : names.front();
}

// The definitions as LDIF lines, so that the one schema parser reads them.
void AppendAsLdif(std::string& text, const char* attribute, const std::vector<std::string>& values) {
  for (const auto& value : values) text.append(attribute).append(": ").append(ReplaceChars(value, "\r\n", ' ')).append("\n");
}

}  // namespace

bool ReadLdapSchema(const ConnectionConfig& config, SchemaDefinitions& out, std::string& error) {
  // The library would otherwise apply ldap.conf and any ldaprc in the current or home
  // folder, which can turn off certificate checks behind the user's back; only the
  // connections file configures a connection. It reads them once, when first used.
  setenv("LDAPNOINIT", "1", 1);
  LdapHandle ld;
  if (!Connect(config, ld, error)) return false;
  const std::string base = SubschemaEntry(ld.get());
  const char* attributes[] = {"attributeTypes", "objectClasses", nullptr};
  int rc = 0;
  const Message result = ReadEntry(ld.get(), base.c_str(), "(objectClass=subschema)", attributes, rc);
  LDAPMessage* entry = result ? ldap_first_entry(ld.get(), result.get()) : nullptr;
  if (!entry) {
    error = result ? "no subschema entry " + base : Reason(("cannot read " + base).c_str(), rc);
    return false;
  }
  std::string text;
  AppendAsLdif(text, "attributeTypes", Values(ld.get(), entry, "attributeTypes"));
  AppendAsLdif(text, "objectClasses", Values(ld.get(), entry, "objectClasses"));
  ParseSchemaText(text, config.url, out);
  return true;
}

}  // namespace corvane::client
