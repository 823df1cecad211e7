// Template filling for fixed texts.
#include "Format.h"

#include <cstdio>
#include <cstdlib>

namespace common {

static bool AsInt(const FormatArg& a, std::int64_t& out) {
  if (auto* i = std::get_if<std::int64_t>(&a)) {
    out = *i;
    return true;
  }
  if (auto* d = std::get_if<double>(&a)) {
    out = static_cast<std::int64_t>(*d);
    return true;
  }
  const std::string& s = std::get<std::string>(a);
  char* end = nullptr;
  out = std::strtoll(s.c_str(), &end, 10);
  return !s.empty() && *end == 0;
}

static std::string AsText(const FormatArg& a) {
  if (auto* s = std::get_if<std::string>(&a)) return *s;
  if (auto* i = std::get_if<std::int64_t>(&a)) return std::to_string(*i);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", std::get<double>(a));
  return buf;
}

std::string EscapeControls(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F) {
      out.push_back(c);
      continue;
    }
    out += "\\x";
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0xF]);
  }
  return out;
}

std::string FormatText(std::string_view t, const std::vector<FormatArg>& args) {
  std::string out;
  out.reserve(t.size() + 16 * args.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c != '%' || i + 1 >= t.size()) {
      out.push_back(c);
      continue;
    }
    if (t[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // %[-][0][width][.precision]conv
    std::size_t j = i + 1;
    std::string spec = "%";
    while (j < t.size() && (t[j] == '-' || t[j] == '0' || t[j] == '+' || t[j] == ' ')) spec.push_back(t[j++]);
    while (j < t.size() && t[j] >= '0' && t[j] <= '9') spec.push_back(t[j++]);
    if (j < t.size() && t[j] == '.') {
      spec.push_back(t[j++]);
      while (j < t.size() && t[j] >= '0' && t[j] <= '9') spec.push_back(t[j++]);
    }
    if (j >= t.size()) {
      out.append(t.substr(i));
      break;
    }
    char conv = t[j];
    const FormatArg* a = next < args.size() ? &args[next] : nullptr;
    char buf[128];
    switch (conv) {
      case 's':
        ++next;
        if (a) {
          if (spec == "%")
            out += AsText(*a);
          else {
            std::string txt = AsText(*a);
            std::snprintf(buf, sizeof buf, (spec + "s").c_str(), txt.c_str());
            out += buf;
          }
        }
        break;
      case 'd':
      case 'u':
      case 'x':
      case 'X': {
        ++next;
        std::int64_t v = 0;
        if (a && AsInt(*a, v)) {
          std::string f = spec + "ll" + conv;
          std::snprintf(buf, sizeof buf, f.c_str(), static_cast<long long>(v));
          out += buf;
        } else if (a) {
          out += AsText(*a);
        }
        break;
      }
      case 'f':
      case 'g':
      case 'e': {
        ++next;
        if (a) {
          double d = 0;
          if (auto* p = std::get_if<double>(a))
            d = *p;
          else if (auto* q = std::get_if<std::int64_t>(a))
            d = static_cast<double>(*q);
          else
            d = std::strtod(std::get<std::string>(*a).c_str(), nullptr);
          std::snprintf(buf, sizeof buf, (spec + conv).c_str(), d);
          out += buf;
        }
        break;
      }
      default:
        // Not a placeholder: keep the text.
        out.append(t.substr(i, j - i + 1));
        break;
    }
    i = j;
  }
  return out;
}

}  // namespace common
