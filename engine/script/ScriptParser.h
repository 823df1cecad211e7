// Compiles script text into a program tree.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ScriptTree.h"

namespace ruvala::script {

// Routines by lower-case name.
using RoutineTable = std::unordered_map<std::string, std::shared_ptr<const Routine>>;

// How deeply statements and expressions may nest. The compiler and the interpreter recurse
// once per level, so this keeps texts such as 100 000 opening parentheses from exhausting the
// stack; real conditions nest a handful of levels.
inline constexpr int kMaxNesting = 256;

// Tokenises and parses `text`. Errors are in the program's messages and set `failed`; parsing
// stops at the first error it cannot pass over. Operations on two constants are computed here.
std::shared_ptr<Program> CompileScript(std::string_view text, const RoutineTable& routines);

}  // namespace ruvala::script
