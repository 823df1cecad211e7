// The message grammar: a predictive parser over the lexer's tokens, driven by the layout
// tables, that fills a segment tree and reports syntax errors with recovery.
#pragma once

#include <string>
#include <vector>

#include "ErrorReporter.h"
#include "SegmentTree.h"
#include "TextCodec.h"

namespace kalvix {

// Empties tree and reporter, parses text (8-bit) into them. Never fails on any input; an
// exception (memory exhausted) still leaves the tree consistent and is passed on.
// A well-formed ordinary interchange is read by a token-free path first; cleanPath false
// skips it (the tests compare both). substituted lists the characters of the original text that
// the code page lacked (see common::Utf16ToAnsi); each becomes a problem text of its own.
void ParseInterchange(std::string text, SegmentTree& tree, ErrorReporter& reporter, bool cleanPath = true,
                      const std::vector<common::Substitution>& substituted = {});

// Depth of the parser's level table: deeper levels, which only damaged input can reach, are
// not opened; their segments go under the node open at the deepest level.
constexpr int kOpenLevels = 20;

}  // namespace kalvix
