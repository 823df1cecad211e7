// The message grammar: a predictive parser over the lexer's tokens, driven by the layout
// tables, that fills a segment tree and reports syntax errors with recovery.
#pragma once

#include <string>

#include "ErrorReporter.h"
#include "SegmentTree.h"

namespace kalvix {

// Empties tree and reporter, parses text (8-bit) into them. Never fails on any input; an
// exception (memory exhausted) still leaves the tree consistent and is passed on.
// A well-formed ordinary interchange is read by a token-free path first; cleanPath false
// skips it (the tests compare both).
void ParseInterchange(std::string text, SegmentTree& tree, ErrorReporter& reporter, bool cleanPath = true);

// Depth of the parser's level table: deeper levels, which only damaged input can reach, are
// not opened; their segments go under the node open at the deepest level.
constexpr int kOpenLevels = 20;

}  // namespace kalvix
