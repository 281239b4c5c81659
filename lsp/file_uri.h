// file:// URIs and the paths they name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::lsp {

// The path a file URI names ("file:///a%20b/c.xml" names "/a b/c.xml"); nothing for a URI
// of another scheme, of another host, or with a bad escape.
std::optional<std::string> PathOfFileUri(std::string_view uri);

// The file URI of an absolute path, every byte but the unreserved ones and "/" escaped.
std::string FileUriOfPath(std::string_view path);

}  // namespace corvane::lsp
