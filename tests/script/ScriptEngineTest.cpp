// The engine as its host uses it: host functions, globals and constants across runs, variable
// change notices, the compiled-text cache, messages and the step limit.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ScriptTestSupport.h"

namespace ruvala::script {
namespace {

std::vector<std::string> Shown(const TScriptEngine& e) {
  std::vector<std::string> out;
  for (const TScriptMessage& m : e.Messages()) out.push_back(m.ToString());
  return out;
}

// An engine with the host's four functions over a small fake message.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FEngine.AddFunction("FindChild(string):boolean", [this](const std::vector<TValue>& args) {
      FCalls.push_back("FindChild " + args.at(0).AsString());
      if (args[0].AsString() == "boom") throw EScriptError("no current segment");
      return TValue(args[0].AsString() == "IFD");
    });
    FEngine.AddFunction("Trace(string)", [this](const std::vector<TValue>& args) {
      FCalls.push_back("Trace " + args.at(0).AsString());
      return TValue();
    });
    FEngine.AddFunction("VarExists(string):boolean", [this](const std::vector<TValue>& args) {
      const TValue* v = FEngine.FindVariable(args.at(0).AsString());
      return TValue(v != nullptr && v->Assigned());
    });
  }

  TScriptEngine FEngine;
  std::vector<std::string> FCalls;
};

TEST_F(HostTest, CallsHostFunctionsWithTheirArguments) {
  ASSERT_TRUE(
      FEngine.Run("IF findchild('IFD') AND NOT FINDCHILD('ICD') THEN Trace('both'); "
                  "Trace := 'assignment form'; r := FindChild('I' + 'FD')"));
  EXPECT_EQ(FCalls, (std::vector<std::string>{"FindChild IFD", "FindChild ICD", "Trace both", "Trace assignment form",
                                              "FindChild IFD"}));
  EXPECT_EQ(Describe(*FEngine.FindVariable("R")), "BOOLEAN True");
}

TEST_F(HostTest, ChecksArgumentsBeforeTheCall) {
  const std::vector<Case> cases = {
      {"r := FindChild(1)",
       "Runtime Error: Function FindChild expects type STRING instead of type INTEGER at argument 1 [line: 1, column: "
       "16]"},
      {"r := FindChild('a', 'b')", "Runtime Error: Too many arguments for function FindChild! [line: 1, column: 6]"},
      {"r := FindChild",
       "Runtime Error: Not enough arguments for function FindChild (0 instead of 1). [line: 1, column: 6]"},
      {"r := FindChild()",
       "Runtime Error: Not enough arguments for function FindChild (0 instead of 1). [line: 1, column: 6]"},
      {"r := Trace('x')",
       "Error: Function Trace returns type VOID instead of BOOLEAN/INTEGER/FLOAT/STRING [line: 1, column: 6]"},
      {"r := Find('x')", "Error: Function Find not found [line: 1, column: 6]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Outcome(FEngine, c.script), c.expected);
  }
  EXPECT_TRUE(FCalls.empty());
}

TEST_F(HostTest, AnExceptionInAHostFunctionEndsTheRun) {
  EXPECT_FALSE(FEngine.Run("r := 1;\nIF FindChild('boom') THEN r := 2;\nr := 3"));
  EXPECT_EQ(Shown(FEngine), (std::vector<std::string>{"Runtime Error: no current segment [line: 2, column: 4]"}));
  EXPECT_EQ(FEngine.Messages()[0].Text, "no current segment");
  EXPECT_EQ(Describe(*FEngine.FindVariable("r")), "INTEGER 1");

  FEngine.AddFunction("Odd(integer):boolean", [](const std::vector<TValue>&) -> TValue { throw 42; });
  EXPECT_EQ(Outcome(FEngine, "r := Odd(1)"),
            "Runtime Error: Function Odd failed with an unknown exception [line: 1, column: 6]");
}

TEST_F(HostTest, ChecksWhatAHostFunctionReturns) {
  FEngine.AddFunction("Half(float):float", [](const std::vector<TValue>& a) { return TValue(a.at(0).AsFloat() / 2); });
  FEngine.AddFunction("Count():integer", [](const std::vector<TValue>&) { return TValue("three"); });
  FEngine.AddFunction("Whole():float", [](const std::vector<TValue>&) { return TValue(std::int32_t{3}); });
  FEngine.AddFunction("Unset:boolean", [](const std::vector<TValue>&) { return TValue(); });
  FEngine.AddFunction("NoEval(string)", nullptr);
  const std::vector<Case> cases = {
      {"r := Half(3)", "FLOAT 1.5"},  // an integer argument is passed as a float
      {"r := Whole", "FLOAT 3"},
      {"r := Count", "Runtime Error: Function Count returns type STRING instead of INTEGER [line: 1, column: 6]"},
      {"r := Unset", "Runtime Error: Function Unset returns type VOID instead of BOOLEAN [line: 1, column: 6]"},
      {"NoEval('x')",
       "Runtime Error: Can't evaluate function NoEval. Event OnEval/OnExEval not defined! [line: 1, column: 1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Outcome(FEngine, c.script), c.expected);
  }
}

TEST(ScriptDeclarationTest, ReadsSignatures) {
  TScriptEngine e;
  std::vector<std::vector<TValue>> seen;
  auto keep = [&seen](const std::vector<TValue>& a) {
    seen.push_back(a);
    return TValue(std::int32_t(a.size()));
  };
  e.AddFunction("  Many ( string , integer/float OPEN ) : integer ", keep);
  e.AddFunction("Named(s: string; n: integer):integer", keep);
  ASSERT_TRUE(e.Run("a := Many('x'); b := Many('x', 1, 2.5); c := Named('y', 3)"));
  EXPECT_EQ(Describe(*e.FindVariable("b")), "INTEGER 3");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1], (std::vector<TValue>{TValue("x"), TValue(std::int32_t{1}), TValue(2.5)}));
  EXPECT_EQ(Outcome(e, "r := Many('x', 'y')"),
            "Runtime Error: Function Many expects type INTEGER/FLOAT instead of type STRING at argument 2 "
            "[line: 1, column: 16]");

  for (const char* bad : {"", "(string)", "F(strng)", "F(string", "F(string OPEN, integer)", "F():array", "F() x"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(e.AddFunction(bad, keep), std::invalid_argument);
  }
}

TEST(ScriptGlobalTest, GlobalsStayAndScriptVariablesAreReset) {
  TScriptEngine e;
  e.SetGlobalVariable("Counter", TValue(std::int32_t{1}));
  ASSERT_TRUE(e.Run("COUNTER := counter + 1; own := 'mine'"));
  ASSERT_TRUE(e.Run("r := Counter"));
  EXPECT_EQ(Describe(*e.FindVariable("r")), "INTEGER 2");
  // The script's own variable of the first run is gone.
  EXPECT_EQ(Outcome(e, "r := own"), "Runtime Error: Variable own is not defined. [line: 1, column: 6]");
  // A preset global keeps the type of its value.
  EXPECT_EQ(Outcome(e, "counter := 'x'"),
            "Runtime Error: Variable counter expects type INTEGER instead of type STRING. [line: 1, column: 1]");
  // Setting replaces value and type.
  e.SetGlobalVariable("counter", TValue("text"));
  EXPECT_EQ(Outcome(e, "r := Counter + '!'"), "STRING 'text!'");
  // An unassigned global takes its type from the script.
  e.SetGlobalVariable("Later", TValue());
  EXPECT_EQ(Outcome(e, "Later := 2.5; r := Later"), "FLOAT 2.5");
  EXPECT_EQ(Describe(*e.FindVariable("later")), "FLOAT 2.5");
}

TEST(ScriptGlobalTest, ConstantsCannotBeAssigned) {
  TScriptEngine e;
  e.SetGlobalConstant("Value", TValue("0002"));
  EXPECT_EQ(Outcome(e, "r := value = '0002'"), "BOOLEAN True");
  EXPECT_EQ(Outcome(e, "r := 1; Value := 'x'"),
            "Runtime Error: Constant Value can't be assigned. [line: 1, column: 9]");
  EXPECT_EQ(Outcome(e, "inc(Value)"), "Runtime Error: Constant Value can't be assigned. [line: 1, column: 5]");
  EXPECT_EQ(Outcome(e, "SetArray(value, INTEGER, 1)"),
            "Runtime Error: Constant value can't be assigned. [line: 1, column: 10]");
  EXPECT_EQ(Describe(*e.FindVariable("VALUE")), "STRING '0002'");
}

// The cache keeps compiled texts; whether a name is a global, a constant or a script variable
// must be decided per run, not when the text was first compiled.
TEST(ScriptGlobalTest, CachedTextsBindNamesAtEachRun) {
  TScriptEngine e;
  const std::string read = "r := Value";
  const std::string write = "Value := 'mine'; r := Value";
  EXPECT_EQ(Outcome(e, read), "Runtime Error: Variable Value is not defined. [line: 1, column: 6]");
  EXPECT_EQ(Outcome(e, write), "STRING 'mine'");
  e.SetGlobalConstant("Value", TValue("preset"));
  EXPECT_EQ(Outcome(e, read), "STRING 'preset'");
  EXPECT_EQ(Outcome(e, write), "Runtime Error: Constant Value can't be assigned. [line: 1, column: 1]");
  e.SetGlobalVariable("Value", TValue("variable"));
  EXPECT_EQ(Outcome(e, write), "STRING 'mine'");
  EXPECT_EQ(Describe(*e.FindVariable("Value")), "STRING 'mine'");
  // A routine added later is known to texts compiled before it.
  EXPECT_EQ(Outcome(e, "r := Late(1)"), "Error: Function Late not found [line: 1, column: 6]");
  e.AddFunction("Late(integer):integer", [](const std::vector<TValue>& a) { return a.at(0); });
  EXPECT_EQ(Outcome(e, "r := Late(1)"), "INTEGER 1");
}

TEST(ScriptGlobalTest, FindVariableAndVariables) {
  TScriptEngine e;
  e.SetGlobalVariable("g", TValue(true));
  e.SetGlobalConstant("k", TValue(std::int32_t{7}));
  ASSERT_TRUE(e.Run("CONST c = 3; Result := g; IF false THEN never := 1"));
  ASSERT_NE(e.FindVariable("RESULT"), nullptr);
  EXPECT_EQ(Describe(*e.FindVariable("RESULT")), "BOOLEAN True");
  ASSERT_NE(e.FindVariable("never"), nullptr);
  EXPECT_FALSE(e.FindVariable("never")->Assigned());
  EXPECT_EQ(e.FindVariable("nowhere"), nullptr);
  EXPECT_EQ(Describe(*e.FindVariable("C")), "INTEGER 3");

  std::vector<std::string> listed;
  for (const auto& [name, value] : e.Variables()) listed.push_back(name + "=" + Describe(value));
  EXPECT_EQ(listed, (std::vector<std::string>{"Result=BOOLEAN True", "never=unassigned", "c=INTEGER 3",
                                              "g=BOOLEAN True", "k=INTEGER 7"}));

  // A text that does not compile leaves only the globals.
  EXPECT_FALSE(e.Run("Result := "));
  EXPECT_EQ(e.FindVariable("Result"), nullptr);
  EXPECT_NE(e.FindVariable("g"), nullptr);
}

TEST_F(HostTest, HostFunctionsSeeTheVariablesOfTheRunningScript) {
  FEngine.SetGlobalVariable("Preset", TValue("x"));
  ASSERT_TRUE(
      FEngine.Run("a := VarExists('x'); x := 1; b := VarExists('X'); c := VarExists('Preset'); "
                  "d := VarExists('nowhere')"));
  std::string got;
  for (const char* n : {"a", "b", "c", "d"}) got += FEngine.FindVariable(n)->AsString() + " ";
  EXPECT_EQ(got, "False True True False ");
}

TEST(ScriptNoticeTest, EveryAssignmentIsReportedBeforeItIsStored) {
  TScriptEngine e;
  e.SetGlobalVariable("g", TValue(std::int32_t{10}));
  std::vector<std::string> notices;
  e.OnVarChange = [&](const std::string& name, const TValue& value) {
    const TValue* now = e.FindVariable(name);
    notices.push_back(name + " " + Describe(value) + " (was " + (now ? Describe(*now) : "none") + ")");
  };
  ASSERT_TRUE(
      e.Run("x := 1; f := 0.5; f := 2; inc(x); G := g + x; SetArray(a, INTEGER, 2); a[0] := 5; "
            "FOR i := 1 TO 2 DO ;"));
  EXPECT_EQ(notices, (std::vector<std::string>{
                         "x INTEGER 1 (was unassigned)",
                         "f FLOAT 0.5 (was unassigned)",
                         "f FLOAT 2 (was FLOAT 0.5)",
                         "x INTEGER 2 (was INTEGER 1)",
                         "G INTEGER 12 (was INTEGER 10)",
                         "a ARRAY INTEGER[2] (was unassigned)",
                         "i INTEGER 1 (was unassigned)",
                         "i INTEGER 2 (was INTEGER 1)",
                     }));
  // A refused assignment is not reported.
  notices.clear();
  EXPECT_FALSE(e.Run("x := 1; x := 'a'"));
  EXPECT_EQ(notices.size(), 1u);
}

TEST(ScriptNoticeTest, AnExceptionFromTheNoticeEndsTheRun) {
  TScriptEngine e;
  e.OnVarChange = [](const std::string& name, const TValue&) {
    if (name == "bad") throw std::runtime_error("refused " + name);
  };
  EXPECT_FALSE(e.Run("ok := 1; bad := 2"));
  EXPECT_EQ(Shown(e), (std::vector<std::string>{"Runtime Error: refused bad [line: 1, column: 10]"}));
  EXPECT_FALSE(e.FindVariable("bad")->Assigned());
}

TEST(ScriptMessageTest, ShownWithKindAndPosition) {
  const std::vector<std::pair<TScriptMessage, std::string>> cases = {
      {{mkHint, "h", 1, 2}, "Hint: h [line: 1, column: 2]"},
      {{mkWarning, "w", 3, 4}, "Warning: w [line: 3, column: 4]"},
      {{mkError, "e", 5, 6}, "Error: e [line: 5, column: 6]"},
      {{mkRuntimeError, "r", 7, 8}, "Runtime Error: r [line: 7, column: 8]"},
      {{mkError, "Script compiled with errors. Can't execute!", 0, 0},
       "Error: Script compiled with errors. Can't execute!"},
  };
  for (const auto& [message, shown] : cases) EXPECT_EQ(message.ToString(), shown);
}

TEST(ScriptMessageTest, CompileAndRunReportErrorsDifferently) {
  TScriptEngine e;
  EXPECT_FALSE(e.Compile("x := nosuch(1)"));
  EXPECT_EQ(Shown(e), (std::vector<std::string>{"Error: Function nosuch not found [line: 1, column: 6]"}));
  EXPECT_TRUE(e.HasErrors());
  EXPECT_FALSE(e.Run("x := nosuch(1)"));
  EXPECT_EQ(Shown(e), (std::vector<std::string>{"Error: Function nosuch not found [line: 1, column: 6]",
                                                "Error: Script compiled with errors. Can't execute!"}));
  EXPECT_EQ(e.Messages()[0].Text, "Function nosuch not found");
  EXPECT_TRUE(e.Compile("x := 1"));
  EXPECT_TRUE(e.Messages().empty());
  EXPECT_TRUE(e.Run("x := 1"));
  EXPECT_FALSE(e.HasErrors());
}

TEST(ScriptStepTest, TheStepLimitStopsEndlessScripts) {
  TScriptEngine e;
  e.SetStepLimit(10'000);
  for (const char* script : {"WHILE true DO ;", "REPEAT UNTIL false", "x := 0; WHILE x < 1 DO x := 0",
                             "FOR i := 1 TO 2147483647 DO ;", "WHILE true DO BEGIN END"}) {
    SCOPED_TRACE(script);
    EXPECT_FALSE(e.Run(script));
    ASSERT_EQ(e.Messages().size(), 1u);
    EXPECT_EQ(e.Messages()[0].Text, "Script stopped.");
    EXPECT_EQ(e.Messages()[0].Kind, mkRuntimeError);
  }
  // Steps start from zero at every run: twice 6 000 passes under a limit of 10 000.
  const std::string loop = "n := 0; WHILE n < 2000 DO inc(n)";
  EXPECT_TRUE(e.Run(loop));
  EXPECT_TRUE(e.Run(loop));
}

TEST(ScriptStepTest, TheDefaultLimitLetsLongLoopsFinish) {
  TScriptEngine e;
  ASSERT_TRUE(e.Run("r := 0; FOR i := 1 TO 1000000 DO r := r + 1"));
  EXPECT_EQ(Describe(*e.FindVariable("r")), "INTEGER 1000000");
  EXPECT_FALSE(e.Run("WHILE true DO ;"));
  EXPECT_EQ(e.Messages().at(0).Text, "Script stopped.");
}

TEST_F(HostTest, AHostFunctionCannotRunAScriptOnTheBusyEngine) {
  FEngine.AddFunction("Nested(string):boolean",
                      [this](const std::vector<TValue>& a) { return TValue(FEngine.Run(a.at(0).AsString())); });
  EXPECT_EQ(Outcome(FEngine, "r := Nested('x := 1')"),
            "Runtime Error: The script engine is already running a script [line: 1, column: 6]");
  EXPECT_EQ(Outcome(FEngine, "r := 5"), "INTEGER 5");
}

// A host function may replace a global while an element of it is being assigned.
TEST(ScriptArrayHostTest, AGlobalReplacedDuringAnElementAssignment) {
  TScriptEngine e;
  e.SetGlobalVariable("Arr", TValue());
  e.AddFunction("Shrink():integer", [&e](const std::vector<TValue>&) {
    e.SetGlobalVariable("Arr", TValue(std::int32_t{0}));
    return TValue(std::int32_t{1});
  });
  EXPECT_EQ(Outcome(e, "SetArray(Arr, INTEGER, 3); Arr[Shrink] := 7"),
            "Runtime Error: Bad number of indices (1 instead of 0) [line: 1, column: 28]");
  e.SetGlobalVariable("Arr", TValue());
  EXPECT_EQ(Outcome(e, "SetArray(Arr, INTEGER, 3); Arr[1] := Shrink"),
            "Runtime Error: Bad number of indices (1 instead of 0) [line: 1, column: 28]");
}

TEST(ScriptValueTest, ConversionsAndEquality) {
  EXPECT_FALSE(TValue().Assigned());
  EXPECT_TRUE(TValue::Void().Assigned());
  EXPECT_EQ(TValue::Void().Type(), vtVoid);
  EXPECT_EQ(TValue(true).AsString(), "True");
  EXPECT_EQ(TValue(false).AsString(), "False");
  EXPECT_EQ(TValue(0.1).AsString(), "0.1");
  EXPECT_EQ(TValue(1e20).AsString(), "1e+20");
  EXPECT_EQ(TValue(-3.0).AsString(), "-3");
  EXPECT_TRUE(TValue("TRUE").AsBoolean());
  EXPECT_FALSE(TValue("yes").AsBoolean());
  EXPECT_EQ(TValue("42").AsInteger(), 42);
  EXPECT_EQ(TValue(1e12).AsInteger(), 2147483647);
  EXPECT_EQ(TValue(-2.9).AsInteger(), -2);
  EXPECT_EQ(TValue("2.5").AsFloat(), 2.5);
  EXPECT_EQ(TValue(std::int32_t{1}), TValue(std::int32_t{1}));
  EXPECT_FALSE(TValue(std::int32_t{1}) == TValue(1.0));
  EXPECT_FALSE(TValue() == TValue(""));
  EXPECT_EQ(TValue(""), TValue(std::string()));
  EXPECT_EQ(TypeName(vtVoid), "VOID");
  EXPECT_EQ(TypeName(vtInteger | vtFloat), "INTEGER/FLOAT");
  EXPECT_EQ(TypeName(unsigned{pfVar} | vtString), "VAR STRING");
  EXPECT_EQ(TypeName(unsigned{pfArray} | pfOpen | vtBoolean), "ARRAY BOOLEAN OPEN");

  TScriptEngine e;
  ASSERT_TRUE(e.Run("SetArray(a, STRING, 2, 2); a[1, 0] := 'x'; b := a"));
  const TValue& a = *e.FindVariable("a");
  EXPECT_TRUE(a.IsArray());
  EXPECT_EQ(a.Type(), vtString);
  EXPECT_EQ(a.Dimensions(), (std::vector<std::int32_t>{2, 2}));
  ASSERT_EQ(a.ElementCount(), 4u);
  EXPECT_EQ(a.Element(2).AsString(), "x");
  EXPECT_EQ(a, *e.FindVariable("b"));
}

}  // namespace
}  // namespace ruvala::script
