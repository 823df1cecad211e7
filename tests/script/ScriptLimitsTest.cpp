// Limits: very long and very deep texts, texts and arrays that would fill memory, and the inputs
// the fuzzer kept, replayed through its own entry point.
#include <gtest/gtest.h>

#include "../common/FuzzCorpus.h"
#include "ScriptTestSupport.h"

namespace ruvala::script {
namespace {

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  out.reserve(piece.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(ScriptLimitTest, LongFlatExpressionsCompileAndRun) {
  EXPECT_EQ(Outcome("r := 1" + Repeat("+1", 99'999)), "INTEGER 100000");
  EXPECT_EQ(Outcome("a := 1; r := a" + Repeat("+a", 99'999)), "INTEGER 100000");
  EXPECT_EQ(Outcome("a := 2; r := a" + Repeat(" - a * 1", 99'999)), "INTEGER -199996");
  EXPECT_EQ(Outcome("a := true; r := a" + Repeat(" AND a", 99'999)), "BOOLEAN True");

  TScriptEngine e;
  ASSERT_TRUE(e.Run("r := ''" + Repeat("+'x'", 100'000)));
  EXPECT_EQ(e.FindVariable("r")->AsString(), std::string(100'000, 'x'));
}

TEST(ScriptLimitTest, DeepNestingIsAnErrorNotACrash) {
  const int deep = 100'000;
  const std::vector<std::string> texts = {
      "r := " + Repeat("(", deep) + "1" + Repeat(")", deep),
      "r := " + Repeat("-", deep) + "1",
      "r := " + Repeat("NOT ", deep) + "true",
      "r := " + Repeat("length(", deep),
      "r := a" + Repeat("[a", deep),
      Repeat("BEGIN ", deep) + "r := 1",
      Repeat("IF true THEN ", deep) + "r := 1",
      Repeat("WHILE false DO ", deep),
      Repeat("REPEAT ", deep),
      Repeat("FOR i := 1 TO 2 DO ", deep),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 20));
    TScriptEngine e;
    EXPECT_FALSE(e.Run(text));
    ASSERT_FALSE(e.Messages().empty());
    EXPECT_EQ(e.Messages()[0].Text, "Nesting too deep (more than 256 levels)");
    EXPECT_EQ(e.Messages()[0].Line, 1);
  }
  // Well below the limit nesting works.
  EXPECT_EQ(Outcome("r := " + Repeat("(", 200) + "1" + Repeat(")", 200)), "INTEGER 1");
  EXPECT_EQ(Outcome(Repeat("BEGIN ", 200) + "r := 2" + Repeat(" END", 200)), "INTEGER 2");
}

TEST(ScriptLimitTest, LongElseIfChainsDoNotNest) {
  std::string text = "x := 5000; IF x = 0 THEN r := 0";
  for (int i = 1; i < 10'000; ++i) text += " ELSE IF x = " + std::to_string(i) + " THEN r := " + std::to_string(i);
  EXPECT_EQ(Outcome(text + " ELSE r := -1"), "INTEGER 5000");
}

TEST(ScriptLimitTest, TextsAndArraysCannotFillMemory) {
  const std::vector<Case> cases = {
      {"s := 'x'; WHILE true DO s := s + s", "String too long (more than 16777216 bytes)"},
      {"s := ''; WHILE true DO s := s + 'xxxxxxxxxxxxxxxx'", "Script stopped."},
      {"WHILE true DO Send('xxxxxxxxxxxxxxxx')", "String too long (more than 16777216 bytes)"},
      {"SetArray(a, STRING, 100000); WHILE true DO BEGIN b := a; SetArray(a, STRING, 100000) END", "Script stopped."},
      {"s := 'xxxxxxxxxxxxxxxx'; SetArray(a, STRING, 100000); FOR i := 0 TO 99999 DO BEGIN a[i] := s + s; s := a[i] "
       "END",
       "String too long (more than 16777216 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    TScriptEngine e;
    EXPECT_FALSE(e.Run(c.script));
    ASSERT_EQ(e.Messages().size(), 1u);
    EXPECT_EQ(e.Messages()[0].Text, c.expected);
    EXPECT_EQ(e.Messages()[0].Kind, mkRuntimeError);
  }
}

// Values that each stay under their own limits but together would fill the process.
TEST(ScriptLimitTest, MemoryOfARunIsBoundedAsAWhole) {
  // 1 MiB of text, then values holding many copies of it or of a large array.
  const std::string mib = "s := 'xxxxxxxxxxxxxxxx'; WHILE length(s) < 1048576 DO s := s + s; ";
  const std::vector<std::string> over = {
      mib + "SetArray(a, STRING, 100); FOR i := 0 TO 99 DO a[i] := s + 'y'",
      mib + "SetArray(a, STRING, 100); FOR i := 0 TO 99 DO a[i] := 'y' + s",
      // An array copied on write: each copy costs a few steps and a whole array of memory.
      "SetArray(a, INTEGER, 200000); b := a; a[0] := 1; c := a; a[0] := 2; d := a; a[0] := 3; e := a; a[0] := 4",
      // The output text is memory of the run too.
      mib + "SetArray(a, STRING, 20); FOR i := 0 TO 19 DO a[i] := s + 'y'; FOR i := 0 TO 14 DO Send(s)",
  };
  for (const std::string& script : over) {
    SCOPED_TRACE(script);
    TScriptEngine e;
    e.SetMemoryLimit(std::size_t{32} << 20);
    EXPECT_FALSE(e.Run(script));
    ASSERT_EQ(e.Messages().size(), 1u);
    EXPECT_EQ(e.Messages()[0].Text, "Script memory limit of 32 MiB exceeded.");
    EXPECT_EQ(e.Messages()[0].Kind, mkRuntimeError);
  }
  // Texts built and dropped again many times over the limit, and values that hold less than it.
  const std::vector<std::string> under = {
      mib + "FOR i := 1 TO 200 DO t := s + 'y'; r := length(t)",
      mib + "SetArray(a, STRING, 20); FOR i := 0 TO 199 DO a[i MOD 20] := s + 'y'; r := length(a[7])",
      "SetArray(a, INTEGER, 200000); FOR i := 1 TO 50 DO BEGIN b := a; a[0] := i END; r := a[0] + b[0]",
  };
  for (const std::string& script : under) {
    SCOPED_TRACE(script);
    TScriptEngine e;
    e.SetMemoryLimit(std::size_t{32} << 20);
    e.SetStepLimit(1'000'000'000);  // memory, not work, is what these use a lot of
    EXPECT_TRUE(e.Run(script)) << (e.Messages().empty() ? "" : e.Messages()[0].Text);
  }
  // The default limit: arrays copied on write fill it within the default step limit, and an
  // array of large texts once the host allows the steps.
  for (const std::string& script :
       {std::string("SetArray(a, INTEGER, 1000000); b := a; a[0] := 1; c := a; a[0] := 2; d := a; a[0] := 3; "
                    "e := a; a[0] := 4; f := a; a[0] := 5; g := a; a[0] := 6"),
        std::string("s := 'xxxxxxxxxxxxxxxx'; WHILE length(s) < 8388608 DO s := s + s; "
                    "SetArray(a, STRING, 1000); FOR i := 0 TO 999 DO a[i] := s + 'y'")}) {
    SCOPED_TRACE(script);
    TScriptEngine e;
    e.SetStepLimit(1'000'000'000);
    EXPECT_FALSE(e.Run(script));
    ASSERT_FALSE(e.Messages().empty());
    EXPECT_EQ(e.Messages()[0].Text, "Script memory limit of 256 MiB exceeded.");
  }
  // Globals count too: a later run starts from what they hold.
  TScriptEngine g;
  g.SetMemoryLimit(std::size_t{4} << 20);
  g.SetGlobalVariable("Big", TValue(std::string(std::size_t{3} << 20, 'x')));
  EXPECT_TRUE(g.Run("t := 'y' + 'z'"));
  EXPECT_FALSE(g.Run("t := Big + 'y'"));
  ASSERT_FALSE(g.Messages().empty());
  EXPECT_EQ(g.Messages()[0].Text, "Script memory limit of 4 MiB exceeded.");
}

// Every input the fuzzer ever kept under fuzz/corpus/script, through the fuzzer's own entry
// point, which checks that a run from the cache repeats the first run exactly.
TEST(ScriptFuzzCorpusTest, ReplaysTheKeptInputs) { EXPECT_GT(fuzzcorpus::Replay("script"), 0); }

}  // namespace
}  // namespace ruvala::script
