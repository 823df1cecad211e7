// Inside view of script values: array storage, the operators of the language and the limits
// that keep one run from exhausting the process.
#pragma once

#include <ruvala/Script.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ruvala::script {

// Longest text a run may build; past it the run ends with an error instead of eating memory.
inline constexpr std::size_t kMaxStringBytes = std::size_t{16} << 20;
// Most elements one array may hold (each element is a whole value).
inline constexpr std::int64_t kMaxArrayElements = std::int64_t{1} << 20;
// Building text costs one step per this many bytes, so the step limit also bounds the memory a
// run can fill with texts, not only its time.
inline constexpr std::size_t kBytesPerStep = 16;

struct TValue::Rep {
  std::vector<std::int32_t> dims;  // length of each dimension
  std::vector<TValue> elems;       // row-major, the last index varies fastest
};

struct SourcePos {
  int line = 0;
  int column = 0;
};

// A run-time error: ends the run, recorded with its position.
struct RuntimeFault {
  std::string text;
  SourcePos pos;
};

// Private access to TValue for the compiler and the interpreter.
struct ValueAccess {
  using ArrayRep = TValue::Rep;
  static const std::string& Text(const TValue& v);
  // The value's type code with pfArray for an array; vtVoid when unassigned.
  static unsigned TypeCode(const TValue& v);
  // An array of `elemType` with every element set to that type's zero value.
  static TValue MakeArray(TValueType elemType, std::vector<std::int32_t> dims);
  static const TValue::Rep* Array(const TValue& v) { return v.FRep.get(); }
  // The array's storage, unshared first so other copies keep their elements.
  static TValue::Rep& MutableArray(TValue& v);
  // True when MutableArray would copy the elements first.
  static bool SharedArray(const TValue& v) { return v.FRep && v.FRep.use_count() > 1; }
  static std::int32_t Int(const TValue& v) { return v.FInt; }
  static double Flt(const TValue& v) { return v.FFloat; }
  static bool Bool(const TValue& v) { return v.FBool; }
};

// Number of characters (code points) of UTF-8 text.
std::size_t CharCount(std::string_view utf8);
// Appends the UTF-8 form of `code`, which must be a valid code point.
void AppendUtf8(std::string& out, std::uint32_t code);

enum OpCode : std::uint8_t {
  // comparisons
  opEqual,
  opNotEqual,
  opLess,
  opLessEqual,
  opGreater,
  opGreaterEqual,
  // additive
  opAdd,
  opSubtract,
  opOr,
  opXor,
  // multiplicative
  opMultiply,
  opDivide,
  opIntDiv,
  opMod,
  opAnd,
  // unary
  opNegate,
  opPlus,
  opNot,
};

// The operator as messages name it ("=", "DIV", ...).
const char* OpName(OpCode op);
// Applies an operator; a type mismatch, a division by zero or an integer overflow raises a
// RuntimeFault at `pos`.
TValue BinaryOp(OpCode op, const TValue& a, const TValue& b, SourcePos pos);
TValue UnaryOp(OpCode op, const TValue& a, SourcePos pos);
// "Bad arguments for function ..." for `name` applied to `args` against `patterns`.
RuntimeFault BadArguments(std::string_view name, std::initializer_list<const TValue*> args, std::string_view patterns,
                          SourcePos pos);

}  // namespace ruvala::script
