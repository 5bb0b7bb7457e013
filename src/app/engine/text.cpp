#include "app/engine/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "mdindex/core/fold.h"

namespace findlark {

namespace {

// NFC in UTF-8: UTF-8 byte order equals scalar-value order, and
// std::string compares bytes as unsigned, so the key compares as required.
std::string plainKey(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return mdindex::composeNfc(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

}  // namespace

QString secondsText(double seconds) {
  char buf[64];
  const double magnitude = std::fabs(seconds);
  const bool exponent = std::isfinite(seconds) && magnitude != 0.0 &&
                        (magnitude < 1e-4 || magnitude >= 9007199254740992.0);
  const auto format = exponent ? std::chars_format::scientific : std::chars_format::fixed;
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, seconds, format);
  if (ec != std::errc()) return QStringLiteral("0.0");
  std::string text(buf, end);
  if (!std::isfinite(seconds)) return QString::fromStdString(text);
  // Scientific to_chars already writes "5e-05" (two exponent digits).
  if (!exponent && text.find('.') == std::string::npos) text += ".0";
  return QString::fromStdString(text);
}

bool plainLess(const QString& a, const QString& b) { return plainKey(a) < plainKey(b); }

void sortPlain(QStringList& texts) {
  std::vector<std::pair<std::string, QString>> keyed;
  keyed.reserve(static_cast<size_t>(texts.size()));
  for (const QString& t : texts) keyed.emplace_back(plainKey(t), t);
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  for (qsizetype i = 0; i < texts.size(); ++i) texts[i] = std::move(keyed[static_cast<size_t>(i)].second);
}

}  // namespace findlark
