// The language itself: tokens, precedence, types, statements, constants, built-ins and arrays,
// each a table of scripts with the value of r they leave or the first message they give.
#include <gtest/gtest.h>

#include "ScriptTestSupport.h"

namespace ruvala::script {
namespace {

TEST(ScriptExpressionTest, PrecedenceAndOperators) {
  ExpectOutcomes({
      {"r := 1 + 2 * 3", "INTEGER 7"},
      {"r := (1 + 2) * 3", "INTEGER 9"},
      {"r := 10 - 2 - 3", "INTEGER 5"},
      {"r := 2 * 3 MOD 4", "INTEGER 2"},
      {"r := 7 DIV 2 + 7 MOD 2", "INTEGER 4"},
      {"r := -7 DIV 2", "INTEGER -3"},
      {"r := -7 MOD 2", "INTEGER -1"},
      {"r := 7 / 2", "FLOAT 3.5"},
      {"r := 4 / 2", "FLOAT 2"},
      {"r := 1 + 2.5", "FLOAT 3.5"},
      {"r := -(2 - 5)", "INTEGER 3"},
      {"r := 5 AND 3", "INTEGER 1"},
      {"r := 5 OR 3", "INTEGER 7"},
      {"r := 5 XOR 3", "INTEGER 6"},
      {"r := NOT 0", "INTEGER -1"},
      // AND binds like *, OR like +, NOT tighter than both, comparisons weakest of all.
      {"r := true OR false AND false", "BOOLEAN True"},
      {"r := NOT true OR true", "BOOLEAN True"},
      {"r := NOT 1 = -2", "BOOLEAN True"},
      {"a := 1; b := 2; r := a = 1 AND b", "BOOLEAN False"},  // a = (1 AND b) = (a = 0)
      {"a := 1; b := 2; r := (a = 1) AND (b = 2)", "BOOLEAN True"},
      {"a := 1; b := 2; IF a = 1 AND b = 2 THEN r := 1",
       "Runtime Error: Bad arguments for function \"=\": Arguments: (BOOLEAN, INTEGER) Parameter patterns: "
       "(INTEGER/FLOAT, INTEGER/FLOAT), (STRING, STRING), (BOOLEAN, BOOLEAN) [line: 1, column: 32]"},
      {"r := 'ab' + 'c'", "STRING 'abc'"},
      {"r := 'a' < 'b'", "BOOLEAN True"},
      {"r := 'B' < 'a'", "BOOLEAN True"},
      {"r := 1 < 1.5", "BOOLEAN True"},
      {"r := 2 <> 2.0", "BOOLEAN False"},
      {"r := false < true", "BOOLEAN True"},
      {"r := 'abc' >= 'abd'", "BOOLEAN False"},
      {"r := $7FFFFFFF", "INTEGER 2147483647"},
      {"r := $FFFFFFFF", "INTEGER -1"},
      {"r := -2147483647 - 1", "INTEGER -2147483648"},
      // The right operand of a decided AND/OR is not evaluated.
      {"x := 0; r := (x <> 0) AND (10 DIV x > 1)", "BOOLEAN False"},
      {"x := 0; r := (x = 0) OR (10 DIV x > 1)", "BOOLEAN True"},
  });
}

TEST(ScriptExpressionTest, OperatorErrors) {
  ExpectOutcomes({
      {"r := 1 + 'a'",
       "Runtime Error: Bad arguments for function \"+\": Arguments: (INTEGER, STRING) Parameter patterns: "
       "(INTEGER/FLOAT, INTEGER/FLOAT), (STRING, STRING) [line: 1, column: 8]"},
      {"r := -'a'",
       "Runtime Error: Bad arguments for function \"-\": Arguments: (STRING) Parameter patterns: (INTEGER/FLOAT) "
       "[line: 1, column: 6]"},
      {"r := true AND 1",
       "Runtime Error: Bad arguments for function \"AND\": Arguments: (BOOLEAN, INTEGER) Parameter patterns: "
       "(BOOLEAN, BOOLEAN), (INTEGER, INTEGER) [line: 1, column: 11]"},
      {"r := 1.5 DIV 2",
       "Runtime Error: Bad arguments for function \"DIV\": Arguments: (FLOAT, INTEGER) Parameter patterns: "
       "(INTEGER, INTEGER) [line: 1, column: 10]"},
      {"r := 1 DIV 0", "Runtime Error: Division by zero [line: 1, column: 8]"},
      {"r := 1 MOD 0", "Runtime Error: Division by zero [line: 1, column: 8]"},
      {"r := 1 / 0", "Runtime Error: Division by zero [line: 1, column: 8]"},
      {"r := 2147483647 + 1", "Runtime Error: Integer overflow [line: 1, column: 17]"},
      {"r := 65536 * 65536", "Runtime Error: Integer overflow [line: 1, column: 12]"},
      {"r := (-2147483647 - 1) DIV -1", "Runtime Error: Integer overflow [line: 1, column: 24]"},
      {"r := -2147483647 - 1; r := -r", "Runtime Error: Integer overflow [line: 1, column: 28]"},
      {"r := (-2147483647 - 1) MOD -1", "INTEGER 0"},
  });
}

TEST(ScriptLexerTest, StringsAndCharCodes) {
  ExpectOutcomes({
      {"r := ''", "STRING ''"},
      {"r := 'It''s'", "STRING 'It's'"},
      {"r := ''''", "STRING '''"},
      {"r := 'a'#13#10'b'", "STRING 'a\r\nb'"},
      {"r := #$41#66", "STRING 'AB'"},
      {"r := #$1F600", "STRING '\xF0\x9F\x98\x80'"},
      {"r := 'x'#$E9", "STRING 'x\xC3\xA9'"},
      {"r := length('a'#$E9'b'#$20AC)", "INTEGER 4"},
      {"r := length('\xC3\xA9\xE2\x82\xAC')", "INTEGER 2"},
      {"r := length('a'#0'b')", "INTEGER 3"},
      {"r := #$110000", "Error: Invalid char constant \"#$110000\" [line: 1, column: 6]"},
      {"r := 'a'#55296", "Error: Invalid char constant \"#55296\" [line: 1, column: 9]"},
      {"r := 'abc", "Error: End of string constant not found (end of line) [line: 1, column: 10]"},
      {"r := 'a\nb'", "Error: End of string constant not found (end of line) [line: 1, column: 8]"},
      {"r := #", "Error: Number expected [line: 1, column: 7]"},
      {"r := #$", "Error: Hexadecimal digit expected [line: 1, column: 8]"},
  });
}

TEST(ScriptLexerTest, NumbersNamesAndComments) {
  ExpectOutcomes({
      {"r := 1.5e2", "FLOAT 150"},
      {"r := 2E-1", "FLOAT 0.2"},
      {"r := 1e+2", "FLOAT 100"},
      {"r := 0.1 + 0.2", "FLOAT 0.30000000000000004"},
      {"r := 12abc", "Error: Number, point or exponent expected [line: 1, column: 8]"},
      {"r := 1.5x", "Error: Number or exponent expected [line: 1, column: 9]"},
      {"r := 1.", "Error: Number expected [line: 1, column: 8]"},
      {"r := 1e", "Error: Number or minus expected [line: 1, column: 8]"},
      {"r := 1e+", "Error: Number expected [line: 1, column: 9]"},
      {"r := $", "Error: Hexadecimal digit expected [line: 1, column: 7]"},
      {"r := $1G", "Error: Hexadecimal digit expected [line: 1, column: 8]"},
      {"r := 2147483648", "Error: Invalid integer constant \"2147483648\" [line: 1, column: 6]"},
      {"r := $100000000", "Error: Invalid hexadezimal constant \"$100000000\" [line: 1, column: 6]"},
      {"r := 1e999", "Error: Invalid floating point constant \"1e999\" [line: 1, column: 6]"},
      {"r := 1 @ 2", "Error: Invalid character [line: 1, column: 8]"},
      {"r := 1 . 2", "Error: Invalid character [line: 1, column: 8]"},
      {"{$R+} r := 1", "Error: Unknown compiler switch: \"R\" [line: 1, column: 1]"},
      {"{$ } r := 1", "Error: Name of compiler switch expected [line: 1, column: 3]"},
      {"r := 1 { never closed", "Error: \"}\" expected [line: 1, column: 8]"},
      {"r := 1 // to the end of the line\n", "INTEGER 1"},
      {"r := { inline } 2", "INTEGER 2"},
      {"r\t:=\r\n3", "INTEGER 3"},
      {std::string("r := 4\0", 7), "INTEGER 4"},
      {"Begin R := 1 eNd", "INTEGER 1"},
      {"if TRUE Then r := 1 ELSE r := 2", "INTEGER 1"},
      {"_a.b := 2; r := _A.B", "INTEGER 2"},
      // Columns count characters, not bytes.
      {"s := '\xC3\xA9\xC3\xA9'; r := )", "Error: Expression expected. [line: 1, column: 17]"},
  });
}

TEST(ScriptParserTest, SyntaxErrors) {
  ExpectOutcomes({
      {"r := 3 r := 4", "Error: \";\" expected. [line: 1, column: 8]"},
      {"IF true r := 1", "Error: THEN expected. [line: 1, column: 9]"},
      {"FOR i = 1 TO 2 DO", "Error: \":=\" expected. [line: 1, column: 7]"},
      {"FOR i := 1 2 DO", "Error: TO expected. [line: 1, column: 12]"},
      {"FOR i := 1 TO 2 r := 1", "Error: DO expected. [line: 1, column: 17]"},
      {"WHILE true r := 1", "Error: DO expected. [line: 1, column: 12]"},
      {"r := (1 + 2", "Error: \")\" expected. [line: 1, column: 12]"},
      {"FOR 1 := 1 TO 2 DO", "Error: Name expected [line: 1, column: 5]"},
      {"r := ", "Error: Expression expected. [line: 1, column: 6]"},
      {"r := a[]", "Error: Array index expected [line: 1, column: 8]"},
      {"r := a[1", "Error: Closing bracket \"]\" expected [line: 1, column: 9]"},
      {"r := nosuch(1)", "Error: Function nosuch not found [line: 1, column: 6]"},
      {"nosuch(1)", "Error: Function nosuch not found [line: 1, column: 1]"},
      {"THEN", "Error: Invalid Instruction. [line: 1, column: 1]"},
      {"r := 1; END", "Error: Invalid Instruction. [line: 1, column: 9]"},
      {"CONST c 1", "Error: \"=\" expected. [line: 1, column: 9]"},
      {"r", "Error: \":=\" expected. [line: 1, column: 2]"},
      {"BEGIN r := 1", "Error: \";\" expected. [line: 1, column: 13]"},
      {"REPEAT r := 1 END", "Error: Invalid Instruction. [line: 1, column: 15]"},
      {"IF true THEN r := 1; ELSE r := 2", "Error: Invalid Instruction. [line: 1, column: 22]"},
      {"r := 1;\n\n  s := )", "Error: Expression expected. [line: 3, column: 8]"},
      {"break", "Error: Invalid Instruction. [line: 1, column: 1]"},
      {"r := exit",
       "Error: Function exit returns type VOID instead of BOOLEAN/INTEGER/FLOAT/STRING [line: 1, column: 6]"},
      {"inc(5)", "Error: Name expected [line: 1, column: 5]"},
  });
}

TEST(ScriptParserTest, CompileStopsAtTheFirstErrorItCannotPassOver) {
  TScriptEngine e;
  // Unknown routines and malformed constants are passed over; the ")" is not.
  EXPECT_FALSE(e.Run("a := nosuch(1);\nb := 99999999999;\nc := other(2) + );\nd := alsounknown(3)"));
  std::vector<std::string> shown;
  for (const TScriptMessage& m : e.Messages()) shown.push_back(m.ToString());
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "Error: Function nosuch not found [line: 1, column: 6]",
                       "Error: Invalid integer constant \"99999999999\" [line: 2, column: 6]",
                       "Error: Function other not found [line: 3, column: 6]",
                       "Error: Expression expected. [line: 3, column: 17]",
                       "Error: Script compiled with errors. Can't execute!",
                   }));
}

TEST(ScriptVariableTest, TypesAreFixedByTheFirstAssignment) {
  ExpectOutcomes({
      {"x := 1; x := 'a'",
       "Runtime Error: Variable x expects type INTEGER instead of type STRING. [line: 1, column: 9]"},
      {"x := 1; x := 1.5",
       "Runtime Error: Variable x expects type INTEGER instead of type FLOAT. [line: 1, column: 9]"},
      {"x := 'a'; x := true",
       "Runtime Error: Variable x expects type STRING instead of type BOOLEAN. [line: 1, column: 11]"},
      {"x := true; X := 0",
       "Runtime Error: Variable X expects type BOOLEAN instead of type INTEGER. [line: 1, column: 12]"},
      // A float variable takes an integer, as a float.
      {"r := 1.5; r := 2", "FLOAT 2"},
      {"r := 1; r := r + 1", "INTEGER 2"},
      {"r := x", "Runtime Error: Variable x is not defined. [line: 1, column: 6]"},
      {"IF ok THEN r := 1", "Runtime Error: Variable ok is not defined. [line: 1, column: 4]"},
      {"r := 1; IF r THEN r := 2",
       "Runtime Error: Bad arguments for function \"IF\": Arguments: (INTEGER) Parameter patterns: (BOOLEAN) "
       "[line: 1, column: 12]"},
      {"WHILE 'x' DO",
       "Runtime Error: Bad arguments for function \"WHILE\": Arguments: (STRING) Parameter patterns: (BOOLEAN) "
       "[line: 1, column: 7]"},
      {"REPEAT UNTIL 0",
       "Runtime Error: Bad arguments for function \"UNTIL\": Arguments: (INTEGER) Parameter patterns: (BOOLEAN) "
       "[line: 1, column: 14]"},
      {"x := 1; r := Type(x) = INTEGER", "BOOLEAN True"},
      {"r := Type(never)", "INTEGER 1"},
      {"r := Type(1.5) + Type('a') + Type(true)", "INTEGER 26"},
  });
}

TEST(ScriptStatementTest, LoopsAndBranches) {
  ExpectOutcomes({
      {"r := 0; FOR i := 1 TO 10 DO r := r + i", "INTEGER 55"},
      {"r := 0; FOR i := 3 DOWNTO 1 DO r := r * 10 + i", "INTEGER 321"},
      {"r := 0; FOR i := 5 TO 1 DO r := 1", "INTEGER 0"},
      {"FOR i := 1 TO 3 DO ; r := i", "INTEGER 3"},
      {"n := 3; r := 0; FOR i := 1 TO n DO BEGIN n := 10; r := r + 1 END", "INTEGER 3"},  // bounds read once
      {"r := 0; FOR i := 2147483646 TO 2147483647 DO inc(r)", "INTEGER 2"},
      {"r := 0; FOR i := -2147483647 - 1 DOWNTO -2147483647 - 1 DO inc(r)", "INTEGER 1"},
      {"r := 0; FOR i := 1 TO 5 DO BEGIN IF i = 2 THEN continue; IF i = 4 THEN break; r := r * 10 + i END",
       "INTEGER 13"},
      {"i := 0; r := 0; WHILE i < 10 DO BEGIN inc(i); IF i MOD 2 = 0 THEN continue; IF i > 7 THEN break; r := r + i "
       "END",
       "INTEGER 16"},
      // continue in REPEAT goes to the UNTIL test, not back to the top.
      {"i := 0; r := 0; REPEAT inc(i); inc(r); IF i = 3 THEN continue UNTIL i >= 3", "INTEGER 3"},
      {"r := 0; REPEAT inc(r); IF r = 2 THEN break UNTIL false", "INTEGER 2"},
      {"r := 0; FOR i := 1 TO 3 DO FOR j := 1 TO 3 DO BEGIN IF j = 2 THEN break; inc(r) END", "INTEGER 3"},
      {"r := 1; exit; r := 2", "INTEGER 1"},
      {"r := 0; WHILE true DO BEGIN inc(r); IF r = 3 THEN exit END; r := 99", "INTEGER 3"},
      {"r := 0; REPEAT FOR i := 1 TO 9 DO IF i = 4 THEN exit ELSE r := i UNTIL false", "INTEGER 3"},
      {"x := 2; IF x = 1 THEN r := 'one' ELSE IF x = 2 THEN r := 'two' ELSE r := 'many'", "STRING 'two'"},
      {"x := 5; IF x = 1 THEN r := 'one' ELSE IF x = 2 THEN r := 'two' ELSE r := 'many'", "STRING 'many'"},
      {"r := 0; IF true THEN IF false THEN r := 1 ELSE r := 2", "INTEGER 2"},
      {"r := 0; IF false THEN ELSE r := 2", "INTEGER 2"},
      {"; ; r := 1;;", "INTEGER 1"},
      {"BEGIN END; BEGIN ; END; r := 1", "INTEGER 1"},
      {"FOR i := 1 TO 2.5 DO",
       "Runtime Error: Bad arguments for function \"FOR\": Arguments: (INTEGER, FLOAT) Parameter patterns: "
       "(INTEGER, INTEGER) [line: 1, column: 5]"},
      {"s := 'a'; FOR s := 1 TO 2 DO",
       "Runtime Error: Variable s expects type STRING instead of type INTEGER. "
       "[line: 1, column: 15]"},
  });
}

TEST(ScriptStatementTest, Constants) {
  ExpectOutcomes({
      {"CONST c = 6 * 7; r := c", "INTEGER 42"},
      {"CONST s = 'a' + 'b'; r := s + s", "STRING 'abab'"},
      {"CONST big = 10; CONST bigger = big * 2; r := bigger", "INTEGER 20"},
      {"r := BOOLEAN + INTEGER + FLOAT + STRING", "INTEGER 30"},
      {"CONST c = 1; c := 2", "Error: Constant c can't be assigned. [line: 1, column: 14]"},
      {"CONST c = 1; FOR c := 1 TO 2 DO", "Error: Constant c can't be assigned. [line: 1, column: 18]"},
      {"CONST c = x", "Error: Constant expression expected. [line: 1, column: 11]"},
      {"CONST c = 1 DIV 0", "Error: Constant expression expected. [line: 1, column: 11]"},
      {"x := 1; CONST x = 2", "Error: Identifier redeclared: x [line: 1, column: 15]"},
      {"CONST c = 1; CONST C = 2", "Error: Identifier redeclared: C [line: 1, column: 20]"},
      {"CONST length = 2", "Error: Identifier redeclared: length [line: 1, column: 7]"},
  });
}

TEST(ScriptBuiltinTest, RoutinesAndTheirArguments) {
  ExpectOutcomes({
      {"r := length('abc')", "INTEGER 3"},
      {"r := LENGTH('')", "INTEGER 0"},
      {"r := length(5)",
       "Runtime Error: Bad arguments for function \"length\": Arguments: (INTEGER) Parameter patterns: (STRING), "
       "(ARRAY BOOLEAN/INTEGER/FLOAT/STRING) [line: 1, column: 6]"},
      {"r := length('a', 'b')", "Runtime Error: Too many arguments for function length! [line: 1, column: 6]"},
      {"r := length()",
       "Runtime Error: Not enough arguments for function length (0 instead of 1). [line: 1, column: 6]"},
      {"r := length", "Runtime Error: Not enough arguments for function length (0 instead of 1). [line: 1, column: 6]"},
      {"r := 1; inc(r); inc(r, 5); dec(r, 2); Dec(r)", "INTEGER 4"},
      {"r := 1.5; inc(r, 2)", "FLOAT 3.5"},
      {"r := 1.5; dec(r, 0.25)", "FLOAT 1.25"},
      {"r := 1; inc(r, 0.5)",
       "Runtime Error: Function inc expects type INTEGER instead of type FLOAT at argument 2 [line: 1, column: 16]"},
      {"r := 1; inc(r, 'a')",
       "Runtime Error: Function inc expects type INTEGER/FLOAT instead of type STRING at argument 2 "
       "[line: 1, column: 16]"},
      {"r := 'a'; inc(r)",
       "Runtime Error: Function inc expects type VAR INTEGER/FLOAT instead of type STRING at argument 1 "
       "[line: 1, column: 15]"},
      {"inc(r)", "Runtime Error: Variable r is not defined. [line: 1, column: 5]"},
      {"inc(r, 1, 2)", "Runtime Error: Too many arguments for function inc! [line: 1, column: 1]"},
      {"r := 2147483647; inc(r)", "Runtime Error: Integer overflow [line: 1, column: 18]"},
      {"r := 1; exit(1)", "Runtime Error: Too many arguments for function exit! [line: 1, column: 9]"},
      {"Send('a', 1, 2.5, true); SendLn; SendLn('b'); r := 1", "INTEGER 1"},
  });
  TScriptEngine e;
  ASSERT_TRUE(e.Run("Send('a', 1, 2.5, true); SendLn; SendLn('b')"));
  EXPECT_EQ(e.Output(), "a12.5True\nb\n");
  ASSERT_TRUE(e.Run("Send('again')"));
  EXPECT_EQ(e.Output(), "again");  // each run starts with empty output
}

TEST(ScriptArrayTest, ElementsBoundsAndCopies) {
  ExpectOutcomes({
      {"SetArray(a, INTEGER, 3); a[0] := 5; a[2] := a[0] * 2; r := a[2] + a[1]", "INTEGER 10"},
      {"SetArray(a, STRING, 2, 3); a[1, 2] := 'x'; r := a[1, 2] + a[0, 0]", "STRING 'x'"},
      {"SetArray(a, BOOLEAN, 1); r := a[0]", "BOOLEAN False"},
      {"SetArray(a, FLOAT, 2); a[0] := 1; r := a[0]", "FLOAT 1"},
      {"SetArray(a, INTEGER, 2, 3); r := length(a)", "INTEGER 2"},
      {"SetArray(a, STRING, 2); r := Type(a)", "INTEGER 80"},
      {"SetArray(r, INTEGER, 2, 3)", "ARRAY INTEGER[2, 3]"},
      {"SetArray(a, INTEGER, 2); b := a; b[0] := 9; r := a[0]", "INTEGER 0"},
      {"SetArray(a, INTEGER, 2); inc(a[1], 3); inc(a[1]); r := a[1]", "INTEGER 4"},
      // One length resizes an array of the same element type and keeps its elements.
      {"SetArray(a, INTEGER, 2); a[1] := 7; SetArray(a, INTEGER, 4); r := a[1] * 10 + length(a)", "INTEGER 74"},
      {"SetArray(a, INTEGER, 3); a[2] := 7; SetArray(a, INTEGER, 2); r := length(a)", "INTEGER 2"},
      {"SetArray(a, INTEGER, 2, 2); a[1, 1] := 7; SetArray(a, INTEGER, 3); r := a[1, 1] + a[2, 1]", "INTEGER 7"},
      {"SetArray(a, INTEGER, 2); a[1] := 7; SetArray(a, STRING, 2); r := a[1]", "STRING ''"},
      {"SetArray(a, INTEGER, 2, 3); r := a[2, 0]",
       "Runtime Error: Array index (2) out of bounds (dimension 1 has bounds [0..1]) [line: 1, column: 36]"},
      {"SetArray(a, INTEGER, 2, 3); r := a[0, 3]",
       "Runtime Error: Array index (3) out of bounds (dimension 2 has bounds [0..2]) [line: 1, column: 39]"},
      {"SetArray(a, INTEGER, 2); a[-1] := 1",
       "Runtime Error: Array index (-1) out of bounds (dimension 1 has bounds [0..1]) [line: 1, column: 28]"},
      {"SetArray(a, INTEGER, 0); r := a[0]",
       "Runtime Error: Array index (0) out of bounds (dimension 1 has bounds [0..-1]) [line: 1, column: 33]"},
      {"SetArray(a, INTEGER, 2); r := a[0, 0]",
       "Runtime Error: Bad number of indices (2 instead of 1) [line: 1, column: 31]"},
      {"x := 1; r := x[0]", "Runtime Error: Bad number of indices (1 instead of 0) [line: 1, column: 14]"},
      {"r := never[0]", "Runtime Error: Variable never is not defined. [line: 1, column: 6]"},
      {"SetArray(a, INTEGER, 2); r := a['x']",
       "Runtime Error: Bad arguments for function \"[]\": Arguments: (STRING) Parameter patterns: (INTEGER) "
       "[line: 1, column: 33]"},
      {"SetArray(a, INTEGER, 2); a[0] := 'x'",
       "Runtime Error: Variable a expects type INTEGER instead of type STRING. [line: 1, column: 26]"},
      {"SetArray(a, INTEGER, 2); a := 1",
       "Runtime Error: Variable a expects type ARRAY INTEGER instead of type INTEGER. [line: 1, column: 26]"},
      {"SetArray(a, INTEGER, 2); r := a + 1",
       "Runtime Error: Bad arguments for function \"+\": Arguments: (ARRAY INTEGER, INTEGER) Parameter patterns: "
       "(INTEGER/FLOAT, INTEGER/FLOAT), (STRING, STRING) [line: 1, column: 33]"},
      {"SetArray(a, 3, 2)",
       "Runtime Error: Bad array type! (VOID/BOOLEAN) Only basic types allowed. [line: 1, column: 13]"},
      {"SetArray(a, 0, 2)", "Runtime Error: Bad array type! (0) Only basic types allowed. [line: 1, column: 13]"},
      {"SetArray(a, INTEGER, -1)", "Runtime Error: Invalid array length (-1) [line: 1, column: 22]"},
      {"SetArray(a, INTEGER, 2000, 2000)",
       "Runtime Error: Array too large (more than 1048576 elements) [line: 1, column: 1]"},
      // A length 0 makes any other lengths harmless, also when one length resizes the array.
      {"SetArray(a, INTEGER, 0, 2147483647, 2147483647); r := length(a)", "INTEGER 0"},
      {"SetArray(a, INTEGER, 0, 2147483647, 2147483647); SetArray(a, INTEGER, 5)",
       "Runtime Error: Array too large (more than 1048576 elements) [line: 1, column: 50]"},
      {"SetArray(a, INTEGER)",
       "Runtime Error: Not enough arguments for function SetArray (2 instead of 3). "
       "[line: 1, column: 1]"},
      {"SetArray(a[0], INTEGER, 1)", "Error: Name expected [line: 1, column: 10]"},
  });
}

}  // namespace
}  // namespace ruvala::script
