#include "ldap_library.h"

#include <dlfcn.h>

#include <optional>

namespace corvane::client {
namespace {

// Set by the build from the library the headers belong to, so that both agree.
constexpr const char* kLibraryName = CORVANE_LDAP_SONAME;

struct Loaded {
  std::optional<LdapLibrary> library;
  std::string error;
};

// Looks name up in the library or the libraries it depends on (liblber); false, with the
// reason in error, when it is not there.
template <class Function>
bool Find(void* handle, const char* name, Function& function, std::string& error) {
  function = reinterpret_cast<Function>(::dlsym(handle, name));
  if (function == nullptr) error = std::string("the LDAP client library ") + kLibraryName + " has no " + name;
  return function != nullptr;
}

Loaded Load() {
  Loaded loaded;
  // Never closed: a connection may be open until the program ends.
  void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();  // NOLINT(concurrency-mt-unsafe): called once, under the static's guard
    loaded.error = std::string("cannot load the LDAP client library ") + kLibraryName + ": " +
                   (reason != nullptr ? reason : "not found");
    return loaded;
  }
  LdapLibrary lib{};
  std::string& error = loaded.error;
  const bool found = Find(handle, "ber_free", lib.ber_free, error) &&
                     Find(handle, "ber_get_option", lib.ber_get_option, error) &&
                     Find(handle, "ber_memfree", lib.ber_memfree, error) &&
                     Find(handle, "ber_set_option", lib.ber_set_option, error) &&
                     Find(handle, "ber_sockbuf_ctrl", lib.ber_sockbuf_ctrl, error) &&
                     Find(handle, "ldap_connect", lib.ldap_connect, error) &&
                     Find(handle, "ldap_err2string", lib.ldap_err2string, error) &&
                     Find(handle, "ldap_get_attribute_ber", lib.ldap_get_attribute_ber, error) &&
                     Find(handle, "ldap_get_dn_ber", lib.ldap_get_dn_ber, error) &&
                     Find(handle, "ldap_get_option", lib.ldap_get_option, error) &&
                     Find(handle, "ldap_initialize", lib.ldap_initialize, error) &&
                     Find(handle, "ldap_msgfree", lib.ldap_msgfree, error) &&
                     Find(handle, "ldap_parse_result", lib.ldap_parse_result, error) &&
                     Find(handle, "ldap_result", lib.ldap_result, error) &&
                     Find(handle, "ldap_sasl_bind_s", lib.ldap_sasl_bind_s, error) &&
                     Find(handle, "ldap_search_ext", lib.ldap_search_ext, error) &&
                     Find(handle, "ldap_set_option", lib.ldap_set_option, error) &&
                     Find(handle, "ldap_start_tls_s", lib.ldap_start_tls_s, error) &&
                     Find(handle, "ldap_unbind_ext_s", lib.ldap_unbind_ext_s, error);
  if (found) loaded.library = lib;
  return loaded;
}

}  // namespace

const LdapLibrary* LoadLdapLibrary(std::string& error) {
  static const Loaded loaded = Load();
  if (!loaded.library) error = loaded.error;
  return loaded.library ? &*loaded.library : nullptr;
}

}  // namespace corvane::client
