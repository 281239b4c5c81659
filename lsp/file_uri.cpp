#include "file_uri.h"

#include <algorithm>

namespace corvane::lsp {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> PathOfFileUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.size() < kScheme.size() || !std::equal(kScheme.begin(), kScheme.end(), uri.begin(), [](char a, char b) {
        return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
      })) {
    return std::nullopt;
  }
  uri.remove_prefix(kScheme.size());
  const std::size_t slash = uri.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view host = uri.substr(0, slash);
  if (!host.empty() && host != "localhost") return std::nullopt;
  uri.remove_prefix(slash);
  // A query or fragment is no part of the path.
  uri = uri.substr(0, uri.find_first_of("?#"));
  std::string path;
  path.reserve(uri.size());
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] != '%') {
      path.push_back(uri[i]);
      continue;
    }
    if (i + 2 >= uri.size()) return std::nullopt;
    const int high = HexValue(uri[i + 1]);
    const int low = HexValue(uri[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    path.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  // A path with a NUL byte names no file.
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

std::string FileUriOfPath(std::string_view path) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string uri = "file://";
  uri.reserve(uri.size() + path.size());
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      uri.push_back(c);
    } else {
      uri.append({'%', kHex[byte >> 4U], kHex[byte & 0xFU]});
    }
  }
  return uri;
}

}  // namespace corvane::lsp
