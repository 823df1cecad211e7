// Indenting and unindenting interchanges; every loop walks its text once.
#include "ClassUtils.h"

#include "EdiProcs.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool StartsWithAny(std::string_view seg, const char* a, const char* b, const char* c) {
  std::string_view head = seg.substr(0, 3);
  return head == a || head == b || head == c;
}

void SplitLines(std::string_view text, common::TStringList& lines) {
  lines.clear();
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
}

std::string JoinLines(const common::TStringList& lines) {
  std::size_t total = 0;
  for (const std::string& l : lines) total += l.size() + 2;
  std::string text;
  text.reserve(total);
  for (const std::string& l : lines) text.append(l).append("\r\n");
  return text;
}

}  // namespace

std::string common::TString::UnformatEdifact(std::string_view Edifact) {
  std::string result;
  result.reserve(Edifact.size() + 1);
  std::string_view s = Edifact;
  while (!s.empty()) {
    result.append(EdiFetch(s, '\'', '?')).push_back('\'');
    std::size_t skip = 0;
    while (skip < s.size() && (s[skip] == '\n' || s[skip] == '\r' || s[skip] == ' ')) ++skip;
    s.remove_prefix(skip);
  }
  return result;
}

bool common::TString::FormatEdifact(std::string_view Edifact, const std::function<bool(std::string_view)>& Sink) {
  const std::string flat = UnformatEdifact(Edifact);
  // Deep nesting makes the indented form quadratic in the input: it is handed out a line at a
  // time, never held whole. Each line ends with "'", so the line break goes before the next one.
  static const std::string blanks(256, ' ');
  std::size_t indent = 0;
  bool first = true;
  std::string_view s(flat);
  while (!s.empty()) {
    std::string_view seg = EdiFetch(s, '\'', '?');
    // EdiFetch keeps a released apostrophe inside the segment, so a segment never stops at
    // "?'"; one ending in "??" ends with a released "?" and is complete.
    if (StartsWithAny(seg, "XGT", "XET", "XRT")) indent = indent >= 4 ? indent - 4 : 0;
    if (seg != "\r\n") {
      if (!first && !Sink("\r\n")) return false;
      first = false;
      for (std::size_t left = indent; left > 0;) {
        const std::size_t n = left < blanks.size() ? left : blanks.size();
        if (!Sink(std::string_view(blanks.data(), n))) return false;
        left -= n;
      }
      if (!Sink(seg) || !Sink("'")) return false;
    }
    if (StartsWithAny(seg, "XGH", "XEH", "XRH")) indent += 4;
  }
  return true;
}

std::string common::TString::FormatEdifact(std::string_view Edifact) {
  std::string result;
  result.reserve(Edifact.size() + Edifact.size() / 4);
  FormatEdifact(Edifact, [&](std::string_view piece) {
    result.append(piece);
    return true;
  });
  return result;
}

void common::TString::FormatEdifact(TStringList& Edifact) {
  std::string text = FormatEdifact(JoinLines(Edifact));
  SplitLines(text, Edifact);
}

void common::TString::UnformatEdifact(TStringList& Edifact) {
  std::string line;
  for (const std::string& l : Edifact) {
    std::size_t b = 0, e = l.size();
    while (b < e && IsBlank(l[b])) ++b;
    while (e > b && IsBlank(l[e - 1])) --e;
    line.append(l, b, e - b);
  }
  Edifact.clear();
  Edifact.push_back(std::move(line));
}

bool common::TString::IsEdifactFormated(const TStringList& Edifact) {
  if (Edifact.size() <= 1) return false;
  const std::size_t n = Edifact.size() < 5 ? Edifact.size() : 5;
  for (std::size_t i = 0; i < n; ++i)
    if (!Edifact[i].empty() && Edifact[i][0] == ' ') return true;
  return false;
}

std::string common::TString::Fetch(std::string& s, char sep) {
  std::string result;
  std::size_t p = s.find(sep);
  if (p == std::string::npos) {
    result.swap(s);
  } else {
    result.assign(s, 0, p);
    s.erase(0, p + 1);
  }
  if (sep == ' ') {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    s = s.substr(b, e - b);
  }
  return result;
}

std::string common::TString::PadLeft(std::string_view Str, std::size_t Len, char Char) {
  std::string out;
  if (Str.size() < Len) out.assign(Len - Str.size(), Char);
  out.append(Str);
  return out;
}

std::string common::TString::RemoveLeading(std::string_view Str, std::string_view Chars) {
  std::size_t b = Str.find_first_not_of(Chars);
  return b == std::string_view::npos ? std::string() : std::string(Str.substr(b));
}

std::string common::TString::RemoveTrailing(std::string_view Str, std::string_view Chars) {
  std::size_t e = Str.find_last_not_of(Chars);
  return e == std::string_view::npos ? std::string() : std::string(Str.substr(0, e + 1));
}

bool common::SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string common::Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}
