#include "shown_text.h"

namespace corvane {

QString ShownText(std::string_view text) {
  // A character takes at most four bytes: this many always hold more than are shown, so
  // only the shown part is ever decoded.
  constexpr std::size_t kMaxShownBytes = static_cast<std::size_t>(kMaxShownChars) * 4 + 4;
  const std::string_view head = text.substr(0, kMaxShownBytes);
  QString shown = QString::fromUtf8(head.data(), static_cast<qsizetype>(head.size()));
  if (shown.size() > kMaxShownChars) shown = shown.left(kMaxShownChars) + QStringLiteral("…");
  for (QChar& c : shown) {
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) c = QLatin1Char(' ');
  }
  return shown;
}

}  // namespace corvane
