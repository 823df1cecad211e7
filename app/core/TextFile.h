// A message file as one text: its encoding decided the way the input files' reader decides it,
// and written back in that encoding, so an unchanged file keeps every byte.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "LineReader.h"

namespace verimek {

class ETextFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TTextFile {
  std::u16string Text;
  TTextEncoding Encoding = teUtf8;
  bool Bom = false;
};

/// The largest file the message sheet loads; larger files belong in a file sheet.
constexpr std::size_t kMaxMessageFileBytes = std::size_t{32} << 20;

/// A byte-order mark decides (UTF-8, UTF-16 LE or BE); without one the text is UTF-8 when all
/// of it is valid UTF-8, else the single-byte code page. Raises ETextFileError for a file that
/// cannot be read, is larger than maxBytes, or holds NUL bytes (not a text file).
TTextFile LoadTextFile(const std::string& fileName, std::size_t maxBytes = kMaxMessageFileBytes);

/// The bytes of text in the encoding (with its mark when bom). A character the code page lacks
/// cannot be written in it: then the text is written as UTF-8 and encoding says so.
std::string EncodeText(std::u16string_view text, TTextEncoding& encoding, bool bom);

/// Writes the text (creating or replacing the file); ETextFileError "Cannot write file \"%s\"
/// (%s)" on failure. encoding may change as EncodeText says.
void SaveTextFile(const std::string& fileName, std::u16string_view text, TTextEncoding& encoding, bool bom);

}  // namespace verimek
