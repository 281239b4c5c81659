// Text from files, folders and servers that the programs print for a person to read. A
// terminal acts on control characters (retitling the window, clearing it, writing the
// clipboard) and a log reader splits lines at line breaks, so neither may pass as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

// Appends text as one line that controls nothing: CR and LF become blanks; every other C0
// control character and DEL is written \xNN, a C1 control character (U+0080 to U+009F) \u00NN,
// and a byte that is no part of valid UTF-8 \xNN. Other text, backslashes too, is kept.
void AppendVisible(std::string& out, std::string_view text);
std::string VisibleText(std::string_view text);

}  // namespace corvane
