// The OpenLDAP client library, loaded when a tree is first read from a server rather than
// when a program starts: most runs read a schema file, and the library with its TLS stack
// takes longer to load than the rest of a check of a small file.
#pragma once

#include <lber.h>
#include <ldap.h>

#include <string>

namespace corvane::client {

// The library's functions that the connection calls, under their own names.
struct LdapLibrary {
  decltype(&::ber_free) ber_free;
  decltype(&::ber_get_option) ber_get_option;
  decltype(&::ber_memfree) ber_memfree;
  decltype(&::ber_set_option) ber_set_option;
  decltype(&::ber_sockbuf_ctrl) ber_sockbuf_ctrl;
  decltype(&::ldap_connect) ldap_connect;
  decltype(&::ldap_err2string) ldap_err2string;
  decltype(&::ldap_get_attribute_ber) ldap_get_attribute_ber;
  decltype(&::ldap_get_dn_ber) ldap_get_dn_ber;
  decltype(&::ldap_get_option) ldap_get_option;
  decltype(&::ldap_initialize) ldap_initialize;
  decltype(&::ldap_msgfree) ldap_msgfree;
  decltype(&::ldap_parse_result) ldap_parse_result;
  decltype(&::ldap_result) ldap_result;
  decltype(&::ldap_sasl_bind_s) ldap_sasl_bind_s;
  decltype(&::ldap_search_ext) ldap_search_ext;
  decltype(&::ldap_set_option) ldap_set_option;
  decltype(&::ldap_start_tls_s) ldap_start_tls_s;
  decltype(&::ldap_unbind_ext_s) ldap_unbind_ext_s;
};

// The library, loaded by the first call (later calls give the same answer); nullptr with
// the reason in error when it or one of its functions cannot be loaded.
const LdapLibrary* LoadLdapLibrary(std::string& error);

}  // namespace corvane::client
