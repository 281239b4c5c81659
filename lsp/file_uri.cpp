#include "file_uri.h"

#include "d_util.h"

namespace corvane::lsp {

std::optional<std::string> PathOfFileUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (!SameText(uri.substr(0, kScheme.size()), kScheme)) return std::nullopt;
  uri.remove_prefix(kScheme.size());
  const std::size_t slash = uri.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view host = uri.substr(0, slash);
  if (!host.empty() && host != "localhost") return std::nullopt;
  uri.remove_prefix(slash);
  // A query or fragment is no part of the path.
  uri = uri.substr(0, uri.find_first_of("?#"));
  std::optional<std::string> path = PercentDecoded(uri);
  if (!path) return std::nullopt;
  // A path with a NUL byte names no file.
  if (path->find('\0') != std::string::npos) return std::nullopt;
  return path;
}

std::string FileUriOfPath(std::string_view path) { return "file://" + PercentEncoded(path); }

}  // namespace corvane::lsp
