// syntax / tree / generate: the parser's jobs on a file, through the EdiMessage component.
#include <edicom/EdiComCpp.h>
#include <fcntl.h>
#include <kalvix/Kalvix.h>
#include <kalvix/Layouts.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Files are UTF-8, or the 8-bit code page when they are not valid UTF-8: widened in one pass.
BStr ToText(std::string_view bytes) {
  BStr text = BStr::Attach(SysAllocStringLen(nullptr, static_cast<unsigned>(bytes.size())));
  if (!text.Get()) throw std::bad_alloc();
  const std::size_t units = common::FileTextToUtf16(bytes, text.Get());
  // Fewer units than bytes only for UTF-8 beyond ASCII: the string gets its own length.
  if (units < bytes.size()) return BStr(std::u16string_view(text.Get(), units));
  return text;
}

// The lines of a file, split at "\n" inside a large buffer and handed out as views into it. The
// buffer grows only for a line longer than itself: memory is the buffer and the longest line.
class TChunkedLines {
 public:
  explicit TChunkedLines(int fd) : FFd(fd), FBuf(kChunk) {}
  // The next line without its "\n"; false at the end. A failed read raises.
  bool Next(std::string_view& line) {
    for (;;) {
      if (const void* nl = std::memchr(FBuf.data() + FScan, '\n', FEnd - FScan)) {
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nl) - FBuf.data());
        line = std::string_view(FBuf.data() + FBegin, at - FBegin);
        FBegin = FScan = at + 1;
        return true;
      }
      FScan = FEnd;
      if (FEof) {
        if (FBegin == FEnd) return false;
        line = std::string_view(FBuf.data() + FBegin, FEnd - FBegin);
        FBegin = FScan = FEnd;
        return true;
      }
      // The open line moves to the front, the rest of the buffer is filled after it.
      if (FBegin > 0) {
        std::memmove(FBuf.data(), FBuf.data() + FBegin, FEnd - FBegin);
        FEnd -= FBegin, FScan -= FBegin, FBegin = 0;
      }
      if (FEnd == FBuf.size()) FBuf.resize(FBuf.size() * 2);
      ssize_t n;
      do {
        n = read(FFd, FBuf.data() + FEnd, FBuf.size() - FEnd);
      } while (n < 0 && errno == EINTR);
      if (n < 0) throw std::runtime_error(std::strerror(errno));
      if (n == 0) FEof = true;
      FEnd += static_cast<std::size_t>(n);
    }
  }

 private:
  static constexpr std::size_t kChunk = 4u << 20;
  int FFd;
  std::vector<char> FBuf;
  std::size_t FBegin = 0, FScan = 0, FEnd = 0;
  bool FEof = false;
};

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

// The file named by the one argument that is not an option, the options; 2 when there is none.
int FileArgument(const Args& args, const char* usage, std::vector<std::string>* options, std::string& file) {
  file.clear();
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
  return 0;
}

// Reads the file named by the one argument that is not an option; 2 when that fails.
int Load(const Args& args, const char* usage, std::vector<std::string>* options, std::string& text) {
  std::string file;
  if (int rc = FileArgument(args, usage, options, file)) return rc;
  if (!ReadFile(file, text)) {
    ErrPrintf("verimek-cli: cannot read \"%s\"\n", file.c_str());
    return 2;
  }
  return 0;
}

bool Parse(kalvix::IEdiMessage* m, const BStr& text) {
  HRESULT hr = m->put_InputStream(text.Get());
  if (FAILED(hr)) {
    ErrPrintf("verimek-cli: parse failed (0x%08X) %s\n", static_cast<unsigned>(hr), TakeErrorDescription().c_str());
    return false;
  }
  return true;
}

bool Parse(kalvix::IEdiMessage* m, std::string_view text) { return Parse(m, ToText(text)); }

// Prints the error list, each message after "N\t" when lineNo is not 0; the number of messages.
int PrintErrors(kalvix::IEdiMessage* m, int lineNo) {
  std::int32_t n = 0;
  m->get_ErrorCount(&n);
  const std::string prefix = n > 0 && lineNo > 0 ? std::to_string(lineNo) + "\t" : std::string();
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
  std::string file;
  if (int rc = FileArgument(args, "syntax [--lines] FILE", &options, file)) return rc;
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
    std::string text;
    if (!ReadFile(file, text)) {
      ErrPrintf("verimek-cli: cannot read \"%s\"\n", file.c_str());
      return 2;
    }
    if (!Parse(m.Get(), text)) return 2;
    errors = PrintErrors(m.Get(), 0);
  } else {
    // Streamed: one buffer of the file at a time, each line widened once.
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      ErrPrintf("verimek-cli: cannot read \"%s\"\n", file.c_str());
      return 2;
    }
    struct Closer {
      int Fd;
      ~Closer() { close(Fd); }
    } closer{fd};
    TChunkedLines reader(fd);
    std::string_view line;
    try {
      for (int no = 1; reader.Next(line); ++no) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (!Parse(m.Get(), ToText(line))) return 2;
        errors += PrintErrors(m.Get(), no);
      }
    } catch (const std::runtime_error& e) {
      std::fflush(stdout);
      ErrPrintf("verimek-cli: cannot read \"%s\" (%s)\n", file.c_str(), e.what());
      return 2;
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
