// Line reading in two passes over a fixed buffer.
#include "LineReader.h"

#include <edicom/EdiComCpp.h>

#include <cerrno>
#include <cstring>

#include "Format.h"
#include "TextCodec.h"

namespace verimek {

namespace {

// Incremental strict UTF-8 check: no overlong forms, surrogates or values above U+10FFFF.
class Utf8Checker {
 public:
  void Feed(unsigned char c) {
    if (!FValid) return;
    if (FNeed == 0) {
      if (c < 0x80) return;
      if (c >= 0xC2 && c <= 0xDF) {
        FNeed = 1;
        FLo = 0x80, FHi = 0xBF;
      } else if (c >= 0xE0 && c <= 0xEF) {
        FNeed = 2;
        FLo = c == 0xE0 ? 0xA0 : 0x80;
        FHi = c == 0xED ? 0x9F : 0xBF;
      } else if (c >= 0xF0 && c <= 0xF4) {
        FNeed = 3;
        FLo = c == 0xF0 ? 0x90 : 0x80;
        FHi = c == 0xF4 ? 0x8F : 0xBF;
      } else {
        FValid = false;
      }
      return;
    }
    if (c < FLo || c > FHi) {
      FValid = false;
      return;
    }
    FLo = 0x80, FHi = 0xBF;
    --FNeed;
  }
  bool Valid() const { return FValid && FNeed == 0; }

 private:
  bool FValid = true;
  int FNeed = 0;
  unsigned char FLo = 0x80, FHi = 0xBF;
};

}  // namespace

TLineReader::TLineReader(const std::string& AFileName) : FFileName(AFileName) {
  FFile = std::fopen(AFileName.c_str(), "rb");
  if (!FFile) throw ELineReaderError(common::Fmt("Cannot open file \"%s\" (%s)", AFileName, std::strerror(errno)));
  unsigned char head[3] = {0, 0, 0};
  std::size_t n = std::fread(head, 1, 3, FFile);
  if (n >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    FEncoding = teUtf8, FBomSize = 3;
  } else if (n >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    FEncoding = teUtf16LE, FBomSize = 2;
  } else if (n >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
    FEncoding = teUtf16BE, FBomSize = 2;
  }
  FHasBom = FBomSize > 0;
  Rewind();
}

TLineReader::~TLineReader() {
  if (FFile) std::fclose(FFile);
}

void TLineReader::Rewind() {
  if (std::fseek(FFile, static_cast<long>(FBomSize), SEEK_SET) != 0)
    throw ELineReaderError(common::Fmt("Cannot read file \"%s\" (%s)", FFileName, std::strerror(errno)));
  FPos = FLen = 0;
  FPendingCr = false;
}

bool TLineReader::Fill() {
  FPos = 0;
  FLen = std::fread(FBuf, 1, sizeof FBuf, FFile);
  if (FLen == 0 && std::ferror(FFile))
    throw ELineReaderError(common::Fmt("Cannot read file \"%s\" (%s)", FFileName, std::strerror(errno)));
  return FLen > 0;
}

int TLineReader::NextUnit() {
  if (FPos >= FLen && !Fill()) return -1;
  int b0 = FBuf[FPos++];
  if (FEncoding != teUtf16LE && FEncoding != teUtf16BE) return b0;
  if (FPos >= FLen && !Fill()) return 0xFFFD;  // odd last byte
  int b1 = FBuf[FPos++];
  return FEncoding == teUtf16LE ? (b0 | (b1 << 8)) : ((b0 << 8) | b1);
}

std::size_t TLineReader::CountLines() {
  Rewind();
  std::size_t lines = 0;
  bool open = false;
  auto unit = [&](int u) {
    if (FPendingCr) {
      FPendingCr = false;
      if (u == '\n') return;
    }
    if (u == '\r' || u == '\n') {
      FPendingCr = u == '\r';
      ++lines;
      open = false;
    } else {
      open = true;
    }
  };
  if (FEncoding == teUtf16LE || FEncoding == teUtf16BE) {
    for (int u; (u = NextUnit()) >= 0;) unit(u);
  } else {
    // Byte encodings straight from the buffer: this pass reads the whole file.
    Utf8Checker utf8;
    const bool check = !FHasBom;
    while (Fill()) {
      for (std::size_t i = 0; i < FLen; ++i) {
        if (check) utf8.Feed(FBuf[i]);
        unit(FBuf[i]);
      }
    }
    if (check) FEncoding = utf8.Valid() ? teUtf8 : teAnsi;
  }
  if (open) ++lines;
  Rewind();
  return lines;
}

bool TLineReader::ReadLine(std::string& line) {
  line.clear();
  bool any = false;
  if (FEncoding == teUtf16LE || FEncoding == teUtf16BE) {
    std::u16string wide;
    for (int u; (u = NextUnit()) >= 0;) {
      if (FPendingCr) {
        FPendingCr = false;
        if (u == '\n') continue;
      }
      any = true;
      if (u == '\r' || u == '\n') {
        FPendingCr = u == '\r';
        break;
      }
      wide.push_back(static_cast<char16_t>(u));
    }
    line = edicom::Utf16ToUtf8(wide);
    return any;
  }
  // Byte encodings: whole runs of the buffer up to the next line end.
  while (FPos < FLen || Fill()) {
    if (FPendingCr) {
      FPendingCr = false;
      if (FBuf[FPos] == '\n') {
        ++FPos;
        continue;
      }
    }
    any = true;
    const unsigned char* start = FBuf + FPos;
    const unsigned char* end = FBuf + FLen;
    const unsigned char* q = start;
    while (q < end && *q != '\r' && *q != '\n') ++q;
    line.append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(q - start));
    if (q < end) {
      FPendingCr = *q == '\r';
      FPos = static_cast<std::size_t>(q - FBuf) + 1;
      break;
    }
    FPos = FLen;
  }
  if (FEncoding == teAnsi) line = common::AnsiToUtf8(line);
  return any;
}

}  // namespace verimek
