// The escaping of control characters in problem texts.
#include "Format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Format, ControlCharactersAreEscapedAndTheRestKept) {
  struct Case {
    std::string in;
    const char* out;
  } const cases[] = {
      {std::string("A\0B", 3), "A\\x00B"},
      {"\x01\t\r\n\x1A\x1F\x7F", "\\x01\\x09\\x0D\\x0A\\x1A\\x1F\\x7F"},
      {"caf\xC3\xA9 \xE9 50% \"x\" \\", "caf\xC3\xA9 \xE9 50% \"x\" \\"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(common::EscapeControls(c.in), c.out);
}

}  // namespace
