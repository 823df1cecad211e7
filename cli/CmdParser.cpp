// syntax / tree / generate: the parser's jobs on a file, through the EdiMessage component.
#include <edicom/EdiComCpp.h>
#include <kalvix/Kalvix.h>
#include <kalvix/Layouts.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Output.h"
#include "TextCodec.h"

namespace cli {

using namespace edicom;

namespace {

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Files are UTF-8, or the 8-bit code page when they are not valid UTF-8.
BStr ToText(std::string_view bytes) {
  if (common::IsValidUtf8(bytes)) return BStr(bytes);
  return BStr(std::u16string_view(common::AnsiToUtf16(bytes)));
}

void Print(const BStr& s) {
  std::string u = s.Utf8();
  std::fwrite(u.data(), 1, u.size(), stdout);
}

ComPtr<kalvix::IEdiMessage> CreateMessage() {
  ComPtr<kalvix::IEdiMessage> m;
  HRESULT hr = CreateInstance(kalvix::CLSID_EdiMessage, kalvix::IID_IEdiMessage, m);
  if (FAILED(hr)) {
    std::string why = TakeErrorDescription();
    ErrPrintf("verimek-cli: cannot create %s (0x%08X)%s%s\n", kalvix::ProgID_EdiMessage, static_cast<unsigned>(hr),
              why.empty() ? "" : ": ", why.c_str());
  }
  return m;
}

ComPtr<kalvix::IEdiSegment> AsSegment(const Variant& v) {
  ComPtr<kalvix::IEdiSegment> s;
  if (v.vt == VT_DISPATCH && v.pdispVal) v.pdispVal->QueryInterface(kalvix::IID_IEdiSegment, s.PutVoid());
  return s;
}

// Parses the file named by the one argument that is not an option; 2 when that fails.
int Load(const Args& args, const char* usage, std::vector<std::string>* options, std::string& text) {
  std::string file;
  for (const std::string& a : args) {
    if (a.size() > 2 && a.compare(0, 2, "--") == 0 && options) {
      options->push_back(a);
    } else if (file.empty()) {
      file = a;
    } else {
      file.clear();  // more than one file
      break;
    }
  }
  if (file.empty()) {
    ErrPrintf("usage: verimek-cli %s\n", usage);
    return 2;
  }
  if (!ReadFile(file, text)) {
    ErrPrintf("verimek-cli: cannot read \"%s\"\n", file.c_str());
    return 2;
  }
  return 0;
}

bool Parse(kalvix::IEdiMessage* m, std::string_view text) {
  HRESULT hr = m->put_InputStream(ToText(text).Get());
  if (FAILED(hr)) {
    ErrPrintf("verimek-cli: parse failed (0x%08X) %s\n", static_cast<unsigned>(hr), TakeErrorDescription().c_str());
    return false;
  }
  return true;
}

// Prints the error list; the number of messages.
int PrintErrors(kalvix::IEdiMessage* m, const std::string& prefix) {
  std::int32_t n = 0;
  m->get_ErrorCount(&n);
  for (std::int32_t i = 0; i < n; ++i) {
    BStr e;
    if (FAILED(m->get_Error(i, e.Put()))) continue;
    std::string u = e.Utf8();
    std::fputs(prefix.c_str(), stdout);
    std::fwrite(u.data(), 1, u.size(), stdout);
    if (u.empty() || u.back() != '\n') std::fputc('\n', stdout);
  }
  return n;
}

// "C0602X0441" -> composite C060 position 2, element X044 position 1; "X0011" -> X001, 1.
struct Key {
  std::string text, composite, element;
  int compositePos = 0, elementPos = 0;
};

std::vector<Key> KeysOf(std::string_view tag) {
  std::vector<Key> keys;
  if (const kalvix::tables::SegmentRow* row = kalvix::tables::FindSegmentRow(tag)) {
    std::string_view s = row->keys;
    while (!s.empty()) {
      std::size_t e = s.find(' ');
      std::string_view k = s.substr(0, e);
      s = e == std::string_view::npos ? std::string_view() : s.substr(e + 1);
      if (k == "+" || k == ":" || k.empty()) continue;
      if (k.back() == '*') k.remove_suffix(1);
      Key key;
      key.text = std::string(k);
      std::size_t x = k.find('X', 1);
      auto num = [](std::string_view d) { return std::atoi(std::string(d).c_str()); };
      if (k[0] == 'C' && x != std::string_view::npos) {
        key.composite = std::string(k.substr(0, 4));
        key.compositePos = num(k.substr(4, x - 4));
        k = k.substr(x);
      }
      key.element = std::string(k.substr(0, 4));
      key.elementPos = num(k.substr(4));
      keys.push_back(std::move(key));
    }
  }
  return keys;
}

}  // namespace

int CmdSyntax(const Args& args) {
  std::vector<std::string> options;
  std::string text;
  if (int rc = Load(args, "syntax [--lines] FILE", &options, text)) return rc;
  bool lines = false;
  for (const std::string& o : options) {
    if (o != "--lines") {
      ErrPrintf("verimek-cli: unknown option \"%s\"\n", o.c_str());
      return 2;
    }
    lines = true;
  }
  // The messages go to standard output; their echo on standard error would only repeat them.
  setenv("KALVIX_ERROR_ECHO", "0", 1);
  ComPtr<kalvix::IEdiMessage> m = CreateMessage();
  if (!m) return 2;
  int errors = 0;
  if (!lines) {
    if (!Parse(m.Get(), text)) return 2;
    errors = PrintErrors(m.Get(), "");
  } else {
    std::size_t pos = 0;
    for (int no = 1; pos < text.size(); ++no) {
      std::size_t end = text.find('\n', pos);
      std::string_view line(text.data() + pos, (end == std::string::npos ? text.size() : end) - pos);
      pos = end == std::string::npos ? text.size() : end + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty()) continue;
      if (!Parse(m.Get(), line)) return 2;
      errors += PrintErrors(m.Get(), std::to_string(no) + "\t");
    }
  }
  std::fflush(stdout);
  return errors ? 1 : 0;
}

int CmdTree(const Args& args) {
  std::string text;
  if (int rc = Load(args, "tree FILE", nullptr, text)) return rc;
  ComPtr<kalvix::IEdiMessage> m = CreateMessage();
  if (!m || !Parse(m.Get(), text)) return 2;
  Variant v;
  m->GetFirstSgmt(&v);
  std::string out;
  for (ComPtr<kalvix::IEdiSegment> s = AsSegment(v); s;) {
    std::int32_t level = 0, positional = 0;
    s->get_Level(&level);
    s->get_IsPositionalData(&positional);
    BStr tag;
    s->get_Tag(tag.Put());
    out.assign(static_cast<std::size_t>(level) * 2, ' ');
    out += tag.Utf8();
    if (positional) {
      BStr data;
      s->get_PositionalData(data.Put());
      out += ' ';
      for (char c : data.Utf8()) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    } else {
      for (const Key& k : KeysOf(tag.Utf8())) {
        BStr val;
        HRESULT hr = k.composite.empty() ? s->Find(BStr(k.element).Get(), k.elementPos, val.Put())
                                         : s->FindInComponent(BStr(k.composite).Get(), k.compositePos,
                                                              BStr(k.element).Get(), k.elementPos, val.Put());
        if (FAILED(hr) || val.Length() == 0) continue;
        out += ' ' + k.text + '=' + val.Utf8();
      }
    }
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    Variant next;
    s->GetNextSgmt(&next);
    s = AsSegment(next);
  }
  std::fflush(stdout);
  return 0;
}

int CmdGenerate(const Args& args) {
  std::string text;
  if (int rc = Load(args, "generate FILE", nullptr, text)) return rc;
  ComPtr<kalvix::IEdiMessage> m = CreateMessage();
  if (!m || !Parse(m.Get(), text)) return 2;
  BStr out;
  HRESULT hr = m->Generate(out.Put());
  if (FAILED(hr)) {
    ErrPrintf("verimek-cli: generate failed (0x%08X)\n", static_cast<unsigned>(hr));
    return 2;
  }
  Print(out);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace cli
