#include "SegmentSelect.h"

#include <charconv>
#include <string>

namespace verimek {

namespace {

bool IsBlank(char16_t c) { return c == u'\r' || c == u'\n' || c == u' '; }

// An apostrophe released by "?" is data; "??" is a released "?", so only an odd run of
// release characters before it releases the apostrophe.
bool IsReleased(std::u16string_view text, std::size_t quote) {
  std::size_t n = 0;
  while (n < quote && text[quote - 1 - n] == u'?') ++n;
  return (n % 2) == 1;
}

// The next apostrophe from pos that ends a segment, or npos.
std::size_t NextTerminator(std::u16string_view text, std::size_t pos) {
  for (;;) {
    pos = text.find(u'\'', pos);
    if (pos == std::u16string_view::npos || !IsReleased(text, pos)) return pos;
    ++pos;
  }
}

bool StartsWithXr(std::u16string_view text, std::size_t pos) {
  return pos + 1 < text.size() && (text[pos] == u'X' || text[pos] == u'x') &&
         (text[pos + 1] == u'R' || text[pos + 1] == u'r');
}

}  // namespace

TSegmentRange FindSegment(std::u16string_view text, int N) {
  TSegmentRange r;
  if (N < 1) return r;
  std::size_t start = 0;
  std::size_t pos = 0;
  int counter = 0;
  while (counter < N - 1) {
    const std::size_t quote = NextTerminator(text, pos);
    if (quote == std::u16string_view::npos) return r;
    std::size_t next = quote + 1;
    while (next < text.size() && IsBlank(text[next])) ++next;
    if (next >= text.size()) return r;
    if (!StartsWithXr(text, next)) {
      ++counter;
      start = next;
    }
    // From the tag itself: an empty segment ("''") ends right there and must be counted too.
    pos = next;
  }
  const std::size_t end = NextTerminator(text, start);
  r.Found = true;
  r.Start = start;
  r.Length = (end == std::u16string_view::npos ? text.size() : end) - start;
  return r;
}

int NearLineNumber(std::u16string_view line) {
  static constexpr std::u16string_view kNearLine = u"near line";
  const std::size_t at = line.find(kNearLine);
  if (at == std::u16string_view::npos) return -1;
  std::size_t from = at + kNearLine.size() + 1;
  if (from > line.size()) return -1;
  std::u16string_view rest = line.substr(from);
  auto isTrim = [](char16_t c) { return c <= u' '; };
  while (!rest.empty() && isTrim(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && isTrim(rest.back())) rest.remove_suffix(1);
  rest = rest.substr(0, rest.find(u' '));
  if (rest.empty() || rest.size() > 9) return -1;
  std::string digits;
  for (char16_t c : rest) {
    if (c > 0x7F) return -1;
    digits += static_cast<char>(c);
  }
  int value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return -1;
  return value;
}

}  // namespace verimek
