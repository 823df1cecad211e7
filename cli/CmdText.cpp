// indent / unindent / split: the text helpers on a file, for triage and scripts.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ClassUtils.h"
#include "Commands.h"
#include "EdiProcs.h"

namespace cli {

static bool ReadAll(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  text = ss.str();
  return !in.bad();
}

static int TransformFile(const Args& args, const char* name, std::string (*fn)(std::string_view)) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: verimek-cli %s FILE\n", name);
    return 2;
  }
  std::string text;
  if (!ReadAll(args[0], text)) {
    std::fprintf(stderr, "verimek-cli: cannot read \"%s\"\n", args[0].c_str());
    return 2;
  }
  std::string out = fn(text);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int CmdIndent(const Args& args) {
  return TransformFile(args, "indent", [](std::string_view t) { return common::TString::FormatEdifact(t); });
}

int CmdUnindent(const Args& args) {
  return TransformFile(args, "unindent", [](std::string_view t) { return common::TString::UnformatEdifact(t); });
}

int CmdSplit(const Args& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: verimek-cli split FILE\n");
    return 2;
  }
  std::FILE* f = std::fopen(args[0].c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "verimek-cli: cannot read \"%s\"\n", args[0].c_str());
    return 2;
  }
  int rc = 0;
  long lineNo = 0;
  std::string line;
  std::vector<std::string> parts;
  auto flush = [&]() {
    ++lineNo;
    parts.clear();
    try {
      common::EdiDecompose(line, parts);
      for (const std::string& p : parts) {
        std::fwrite(p.data(), 1, p.size(), stdout);
        std::fputc('\n', stdout);
      }
    } catch (const std::exception& e) {
      // Entries of earlier messages of a failing line are not printed: the line failed as a whole.
      std::fprintf(stderr, "%ld\t%s\n", lineNo, e.what());
      rc = 1;
    }
    line.clear();
  };
  // Lines end with CR LF, LF or CR; a final line end does not open another line.
  int c;
  bool pendingCr = false;
  bool open = false;
  while ((c = std::getc(f)) != EOF) {
    if (pendingCr) {
      pendingCr = false;
      if (c == '\n') continue;
    }
    if (c == '\r' || c == '\n') {
      pendingCr = (c == '\r');
      flush();
      open = false;
      continue;
    }
    line.push_back(static_cast<char>(c));
    open = true;
  }
  bool readFailed = std::ferror(f) != 0;
  std::fclose(f);
  if (open) flush();
  if (readFailed) {
    std::fprintf(stderr, "verimek-cli: cannot read \"%s\"\n", args[0].c_str());
    return 2;
  }
  return rc;
}

}  // namespace cli
