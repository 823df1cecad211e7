// Reads an input file of interchanges line by line with bounded memory: a first pass counts
// the lines and settles the encoding, then the lines are streamed as UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace verimek {

enum TTextEncoding : std::uint8_t { teAnsi, teUtf8, teUtf16LE, teUtf16BE };

class ELineReaderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A byte-order mark decides the encoding (UTF-8, UTF-16 LE or BE); without one the file is
/// UTF-8 when all of it is valid UTF-8, else the single-byte code page. Lines end with CR LF,
/// LF or CR; a final line end does not start another line. Memory: one line plus a buffer.
class TLineReader {
 public:
  /// Raises ELineReaderError "Cannot open file \"%s\" (%s)".
  explicit TLineReader(const std::string& AFileName);
  ~TLineReader();
  TLineReader(const TLineReader&) = delete;
  TLineReader& operator=(const TLineReader&) = delete;

  /// Reads the whole file once: number of lines, and the encoding when there is no mark.
  /// Leaves the reader at the first line.
  std::size_t CountLines();
  /// The next line as UTF-8 without its line end; false at the end of the file.
  bool ReadLine(std::string& line);
  TTextEncoding Encoding() const { return FEncoding; }

 private:
  void Rewind();
  bool Fill();
  int NextUnit();  // next byte or UTF-16 unit, -1 at the end

  std::string FFileName;
  std::FILE* FFile = nullptr;
  TTextEncoding FEncoding = teAnsi;
  bool FHasBom = false;
  std::size_t FBomSize = 0;
  unsigned char FBuf[1 << 16];
  std::size_t FPos = 0, FLen = 0;
  bool FPendingCr = false;
};

}  // namespace verimek
