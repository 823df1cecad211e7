// indent / unindent / split: the text helpers on a file, for triage and scripts.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ClassUtils.h"
#include "Commands.h"
#include "EdiProcs.h"
#include "Output.h"

namespace cli {

// Writes what fn hands out, piece by piece, followed by a line end; stops at a failed write.
using TTransform = bool (*)(std::string_view text, const std::function<bool(std::string_view)>& sink);

static int TransformFile(const Args& args, const char* name, TTransform fn) {
  if (args.size() != 1) {
    ErrPrintf("usage: verimek-cli %s FILE\n", name);
    return 2;
  }
  std::string text;
  if (!ReadWholeFile(args[0], text)) {
    ErrPrintf("verimek-cli: cannot read \"%s\"\n", args[0].c_str());
    return 2;
  }
  auto write = [](std::string_view piece) {
    std::fwrite(piece.data(), 1, piece.size(), stdout);
    return !OutputFailed();
  };
  if (fn(text, write)) write("\n");
  return 0;
}

int CmdIndent(const Args& args) {
  return TransformFile(args, "indent", [](std::string_view t, const std::function<bool(std::string_view)>& sink) {
    return common::TString::FormatEdifact(t, sink);
  });
}

int CmdUnindent(const Args& args) {
  return TransformFile(args, "unindent", [](std::string_view t, const std::function<bool(std::string_view)>& sink) {
    return sink(common::TString::UnformatEdifact(t));
  });
}

int CmdSplit(const Args& args) {
  if (args.size() != 1) {
    ErrPrintf("usage: verimek-cli split FILE\n");
    return 2;
  }
  std::FILE* f = std::fopen(args[0].c_str(), "rb");
  if (!f) {
    ErrPrintf("verimek-cli: cannot read \"%s\"\n", args[0].c_str());
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
      ErrPrintf("%ld\t%s\n", lineNo, e.what());
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
    ErrPrintf("verimek-cli: cannot read \"%s\"\n", args[0].c_str());
    return 2;
  }
  return rc;
}

}  // namespace cli
