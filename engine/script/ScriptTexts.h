// The fixed texts of the compiler and the run time, and the helper that fills their "%s"/"%d".
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace ruvala::script::texts {

// Lexical.
inline constexpr char kInvalidCharacter[] = "Invalid character";
inline constexpr char kNumberExpected[] = "Number expected";
inline constexpr char kHexDigitExpected[] = "Hexadecimal digit expected";
inline constexpr char kNumberPointOrExponentExpected[] = "Number, point or exponent expected";
inline constexpr char kNumberOrExponentExpected[] = "Number or exponent expected";
inline constexpr char kNumberOrMinusExpected[] = "Number or minus expected";
inline constexpr char kEndOfStringNotFound[] = "End of string constant not found (end of line)";
inline constexpr char kEqualExpected[] = "\"=\" expected.";
inline constexpr char kSwitchNameExpected[] = "Name of compiler switch expected";
inline constexpr char kInvalidHexConstant[] = "Invalid hexadezimal constant \"%s\"";  // sic
inline constexpr char kInvalidCharConstant[] = "Invalid char constant \"%s\"";
inline constexpr char kInvalidIntegerConstant[] = "Invalid integer constant \"%s\"";
inline constexpr char kInvalidFloatConstant[] = "Invalid floating point constant \"%s\"";

// Syntax.
inline constexpr char kSemicolonExpected[] = "\";\" expected.";
inline constexpr char kThenExpected[] = "THEN expected.";
inline constexpr char kAssignExpected[] = "\":=\" expected.";
inline constexpr char kToExpected[] = "TO expected.";
inline constexpr char kDoExpected[] = "DO expected.";
inline constexpr char kCloseParenExpected[] = "\")\" expected.";
inline constexpr char kNameExpected[] = "Name expected";
inline constexpr char kExpressionExpected[] = "Expression expected.";
inline constexpr char kArrayIndexExpected[] = "Array index expected";
inline constexpr char kCloseBracketExpected[] = "Closing bracket \"]\" expected";
inline constexpr char kFunctionNotFound[] = "Function %s not found";
inline constexpr char kInvalidInstruction[] = "Invalid Instruction.";
inline constexpr char kUnknownSwitch[] = "Unknown compiler switch: \"%s\"";
inline constexpr char kCloseBraceExpected[] = "\"}\" expected";
// Additions of this implementation: nothing in the language's own list covers these.
inline constexpr char kNestingTooDeep[] = "Nesting too deep (more than %d levels)";
inline constexpr char kConstantExpected[] = "Constant expression expected.";
inline constexpr char kRedeclared[] = "Identifier redeclared: %s";

// Run time.
inline constexpr char kNotDefined[] = "Variable %s is not defined.";
inline constexpr char kVariableType[] = "Variable %s expects type %s instead of type %s.";
inline constexpr char kTooManyArguments[] = "Too many arguments for function %s!";
inline constexpr char kNotEnoughArguments[] = "Not enough arguments for function %s (%d instead of %d).";
inline constexpr char kArgumentType[] = "Function %s expects type %s instead of type %s at argument %d";
inline constexpr char kResultType[] = "Function %s returns type %s instead of %s";
inline constexpr char kBadArguments[] = "Bad arguments for function \"%s\": Arguments: %s Parameter patterns: %s";
inline constexpr char kIndexOutOfBounds[] = "Array index (%d) out of bounds (dimension %d has bounds [0..%d])";
inline constexpr char kBadIndexCount[] = "Bad number of indices (%d instead of %d)";
inline constexpr char kBadArrayType[] = "Bad array type! (%s) Only basic types allowed.";
inline constexpr char kNoEvaluator[] = "Can't evaluate function %s. Event OnEval/OnExEval not defined!";
inline constexpr char kStopped[] = "Script stopped.";
inline constexpr char kCompiledWithErrors[] = "Script compiled with errors. Can't execute!";
// Additions of this implementation.
inline constexpr char kConstantAssigned[] = "Constant %s can't be assigned.";
inline constexpr char kDivisionByZero[] = "Division by zero";
inline constexpr char kIntegerOverflow[] = "Integer overflow";
inline constexpr char kStringTooLong[] = "String too long (more than %d bytes)";
inline constexpr char kArrayTooLarge[] = "Array too large (more than %d elements)";
inline constexpr char kBadArrayLength[] = "Invalid array length (%d)";
inline constexpr char kMemoryExceeded[] = "Script memory limit of %d MiB exceeded.";
inline constexpr char kHostFailed[] = "Function %s failed with an unknown exception";
inline constexpr char kEngineBusy[] = "The script engine is already running a script";

// Fills "%s" and "%d" in order with `args`; a "%" inside an argument is left alone.
std::string Fill(std::string_view tmpl, std::initializer_list<std::string_view> args);

}  // namespace ruvala::script::texts
