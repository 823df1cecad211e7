// Script values, their text forms, the operators of the language and the message texts.
#include "ScriptValue.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "ScriptTexts.h"

namespace ruvala::script {

std::string texts::Fill(std::string_view tmpl, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(tmpl.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '%' && i + 1 < tmpl.size() && (tmpl[i + 1] == 's' || tmpl[i + 1] == 'd')) {
      if (next != args.end()) out += *next++;
      ++i;
    } else {
      out += tmpl[i];
    }
  }
  return out;
}

std::string TypeName(unsigned typeCodes) {
  std::string out;
  if (typeCodes & pfVar) out += "VAR ";
  if (typeCodes & pfArray) out += "ARRAY ";
  if (typeCodes & pfFunc) out += "FUNC ";
  static constexpr std::pair<unsigned, const char*> kNames[] = {
      {vtVoid, "VOID"}, {vtBoolean, "BOOLEAN"}, {vtInteger, "INTEGER"}, {vtFloat, "FLOAT"}, {vtString, "STRING"}};
  bool first = true;
  for (const auto& [code, name] : kNames) {
    if (!(typeCodes & code)) continue;
    if (!first) out += '/';
    out += name;
    first = false;
  }
  if (typeCodes & pfOpen) out += " OPEN";
  return out;
}

std::string TScriptMessage::ToString() const {
  static constexpr const char* kPrefix[] = {"Hint: ", "Warning: ", "Error: ", "Runtime Error: "};
  std::string out = kPrefix[Kind <= mkRuntimeError ? Kind : mkError];
  out += Text;
  if (Line > 0) out += texts::Fill(" [line: %d, column: %d]", {std::to_string(Line), std::to_string(Column)});
  return out;
}

// ---- TValue ----

TValue::TValue() = default;

TValue TValue::Void() {
  TValue v;
  v.FAssigned = true;
  return v;
}

TValue::TValue(bool v) : FType(vtBoolean), FAssigned(true) { FBool = v; }
TValue::TValue(std::int32_t v) : FType(vtInteger), FAssigned(true) { FInt = v; }
TValue::TValue(double v) : FFloat(v), FType(vtFloat), FAssigned(true) {}
TValue::TValue(std::string v) : FType(vtString), FAssigned(true) {
  if (!v.empty()) FText = std::make_shared<const std::string>(std::move(v));
}
TValue::TValue(const char* v) : TValue(std::string(v ? v : "")) {}

bool TValue::Assigned() const { return FAssigned; }
bool TValue::IsArray() const { return FRep != nullptr; }
TValueType TValue::Type() const { return FAssigned ? FType : vtVoid; }

static bool EqualsTrueIgnoringCase(std::string_view s) {
  static constexpr char kTrue[] = "true";
  if (s.size() != 4) return false;
  for (int i = 0; i < 4; ++i)
    if ((s[i] | 0x20) != kTrue[i]) return false;
  return true;
}

static std::int32_t ClampToInt32(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (d <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(d);
}

bool TValue::AsBoolean() const {
  if (!FAssigned || FRep) return false;
  switch (FType) {
    case vtBoolean:
      return FBool;
    case vtInteger:
      return FInt != 0;
    case vtFloat:
      return FFloat != 0;
    case vtString:
      return EqualsTrueIgnoringCase(ValueAccess::Text(*this));
    case vtVoid:
      return false;
  }
  return false;
}

std::int32_t TValue::AsInteger() const {
  if (!FAssigned || FRep) return 0;
  switch (FType) {
    case vtBoolean:
      return FBool ? 1 : 0;
    case vtInteger:
      return FInt;
    case vtFloat:
      return ClampToInt32(FFloat);
    case vtString: {
      const std::string& s = ValueAccess::Text(*this);
      std::int32_t out = 0;
      std::from_chars(s.data(), s.data() + s.size(), out);
      return out;
    }
    case vtVoid:
      return 0;
  }
  return 0;
}

double TValue::AsFloat() const {
  if (!FAssigned || FRep) return 0;
  switch (FType) {
    case vtBoolean:
      return FBool ? 1 : 0;
    case vtInteger:
      return FInt;
    case vtFloat:
      return FFloat;
    case vtString: {
      const std::string& s = ValueAccess::Text(*this);
      double out = 0;
      std::from_chars(s.data(), s.data() + s.size(), out);
      return out;
    }
    case vtVoid:
      return 0;
  }
  return 0;
}

std::string TValue::AsString() const {
  if (!FAssigned) return {};
  if (FRep) {
    // Only a summary: an array of long texts would otherwise turn into one enormous text.
    std::string out = TypeName(unsigned{pfArray} | FType) + '[';
    for (std::size_t i = 0; i < FRep->dims.size(); ++i) {
      if (i) out += ", ";
      out += std::to_string(FRep->dims[i]);
    }
    return out + ']';
  }
  switch (FType) {
    case vtBoolean:
      return FBool ? "True" : "False";
    case vtInteger:
      return std::to_string(FInt);
    case vtFloat: {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, FFloat);
      return std::string(buf, r.ptr);
    }
    case vtString:
      return ValueAccess::Text(*this);
    case vtVoid:
      return {};
  }
  return {};
}

const std::vector<std::int32_t>& TValue::Dimensions() const {
  static const std::vector<std::int32_t> kNone;
  return FRep ? FRep->dims : kNone;
}

std::size_t TValue::ElementCount() const { return FRep ? FRep->elems.size() : 0; }

const TValue& TValue::Element(std::size_t flatIndex) const { return FRep->elems[flatIndex]; }

bool TValue::operator==(const TValue& o) const {
  if (FAssigned != o.FAssigned) return false;
  if (!FAssigned) return true;
  if (FType != o.FType || (FRep == nullptr) != (o.FRep == nullptr)) return false;
  if (FRep) return FRep == o.FRep || (FRep->dims == o.FRep->dims && FRep->elems == o.FRep->elems);
  switch (FType) {
    case vtBoolean:
      return FBool == o.FBool;
    case vtInteger:
      return FInt == o.FInt;
    case vtFloat:
      return FFloat == o.FFloat;
    case vtString:
      return ValueAccess::Text(*this) == ValueAccess::Text(o);
    case vtVoid:
      return true;
  }
  return false;
}

// ---- ValueAccess ----

const std::string& ValueAccess::Text(const TValue& v) {
  static const std::string kEmpty;
  return v.FText ? *v.FText : kEmpty;
}

unsigned ValueAccess::TypeCode(const TValue& v) {
  if (!v.FAssigned) return vtVoid;
  return v.FRep ? (unsigned{pfArray} | v.FType) : unsigned{v.FType};
}

static TValue ZeroOf(TValueType t) {
  switch (t) {
    case vtBoolean:
      return TValue(false);
    case vtInteger:
      return TValue(std::int32_t{0});
    case vtFloat:
      return TValue(0.0);
    case vtString:
      return TValue(std::string());
    case vtVoid:
      break;
  }
  return TValue::Void();
}

TValue ValueAccess::MakeArray(TValueType elemType, std::vector<std::int32_t> dims) {
  std::size_t count = 1;
  for (std::int32_t d : dims) count *= static_cast<std::size_t>(d);
  TValue v;
  v.FAssigned = true;
  v.FType = elemType;
  v.FRep = std::make_shared<TValue::Rep>();
  v.FRep->dims = std::move(dims);
  v.FRep->elems.assign(count, ZeroOf(elemType));
  return v;
}

TValue::Rep& ValueAccess::MutableArray(TValue& v) {
  if (v.FRep.use_count() > 1) v.FRep = std::make_shared<TValue::Rep>(*v.FRep);
  return *v.FRep;
}

std::size_t CharCount(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// ---- operators ----

const char* OpName(OpCode op) {
  switch (op) {
    case opEqual:
      return "=";
    case opNotEqual:
      return "<>";
    case opLess:
      return "<";
    case opLessEqual:
      return "<=";
    case opGreater:
      return ">";
    case opGreaterEqual:
      return ">=";
    case opAdd:
    case opPlus:
      return "+";
    case opSubtract:
    case opNegate:
      return "-";
    case opOr:
      return "OR";
    case opXor:
      return "XOR";
    case opMultiply:
      return "*";
    case opDivide:
      return "/";
    case opIntDiv:
      return "DIV";
    case opMod:
      return "MOD";
    case opAnd:
      return "AND";
    case opNot:
      return "NOT";
  }
  return "?";
}

// The accepted operand types of each operator, as "Bad arguments" lists them.
static const char* Patterns(OpCode op) {
  switch (op) {
    case opEqual:
    case opNotEqual:
    case opLess:
    case opLessEqual:
    case opGreater:
    case opGreaterEqual:
      return "(INTEGER/FLOAT, INTEGER/FLOAT), (STRING, STRING), (BOOLEAN, BOOLEAN)";
    case opAdd:
      return "(INTEGER/FLOAT, INTEGER/FLOAT), (STRING, STRING)";
    case opSubtract:
    case opMultiply:
    case opDivide:
      return "(INTEGER/FLOAT, INTEGER/FLOAT)";
    case opIntDiv:
    case opMod:
      return "(INTEGER, INTEGER)";
    case opOr:
    case opXor:
    case opAnd:
      return "(BOOLEAN, BOOLEAN), (INTEGER, INTEGER)";
    case opNegate:
    case opPlus:
      return "(INTEGER/FLOAT)";
    case opNot:
      return "(BOOLEAN), (INTEGER)";
  }
  return "";
}

RuntimeFault BadArguments(std::string_view name, std::initializer_list<const TValue*> args, std::string_view patterns,
                          SourcePos pos) {
  std::string list = "(";
  for (const TValue* a : args) {
    if (list.size() > 1) list += ", ";
    list += TypeName(ValueAccess::TypeCode(*a));
  }
  list += ')';
  return {texts::Fill(texts::kBadArguments, {name, list, patterns}), pos};
}

[[noreturn]] static void Mismatch(OpCode op, const TValue& a, const TValue& b, SourcePos pos) {
  throw BadArguments(OpName(op), {&a, &b}, Patterns(op), pos);
}

template <class T>
static int Compare(const T& x, const T& y) {
  return x < y ? -1 : (y < x ? 1 : 0);
}

static bool CompareResult(OpCode op, int c) {
  switch (op) {
    case opEqual:
      return c == 0;
    case opNotEqual:
      return c != 0;
    case opLess:
      return c < 0;
    case opLessEqual:
      return c <= 0;
    case opGreater:
      return c > 0;
    default:
      return c >= 0;
  }
}

TValue BinaryOp(OpCode op, const TValue& a, const TValue& b, SourcePos pos) {
  const unsigned ta = ValueAccess::TypeCode(a);
  const unsigned tb = ValueAccess::TypeCode(b);
  const bool ints = ta == vtInteger && tb == vtInteger;
  const bool nums = (ta == vtInteger || ta == vtFloat) && (tb == vtInteger || tb == vtFloat);
  const bool bools = ta == vtBoolean && tb == vtBoolean;
  const bool strs = ta == vtString && tb == vtString;
  std::int32_t r = 0;
  switch (op) {
    case opEqual:
    case opNotEqual:
    case opLess:
    case opLessEqual:
    case opGreater:
    case opGreaterEqual:
      if (ints) return TValue(CompareResult(op, Compare(ValueAccess::Int(a), ValueAccess::Int(b))));
      if (nums) {
        // NaN is neither smaller, equal nor greater: only "<>" holds.
        double x = a.AsFloat(), y = b.AsFloat();
        if (std::isnan(x) || std::isnan(y)) return TValue(op == opNotEqual);
        return TValue(CompareResult(op, Compare(x, y)));
      }
      if (strs) return TValue(CompareResult(op, ValueAccess::Text(a).compare(ValueAccess::Text(b))));
      if (bools) return TValue(CompareResult(op, Compare(ValueAccess::Bool(a), ValueAccess::Bool(b))));
      break;
    case opAdd:
      if (ints) {
        if (__builtin_add_overflow(ValueAccess::Int(a), ValueAccess::Int(b), &r))
          throw RuntimeFault{texts::kIntegerOverflow, pos};
        return TValue(r);
      }
      if (nums) return TValue(a.AsFloat() + b.AsFloat());
      if (strs) {
        const std::string& x = ValueAccess::Text(a);
        const std::string& y = ValueAccess::Text(b);
        if (y.empty()) return a;
        if (x.empty()) return b;
        if (x.size() + y.size() > kMaxStringBytes)
          throw RuntimeFault{texts::Fill(texts::kStringTooLong, {std::to_string(kMaxStringBytes)}), pos};
        std::string s;
        s.reserve(x.size() + y.size());
        s += x;
        s += y;
        return TValue(std::move(s));
      }
      break;
    case opSubtract:
      if (ints) {
        if (__builtin_sub_overflow(ValueAccess::Int(a), ValueAccess::Int(b), &r))
          throw RuntimeFault{texts::kIntegerOverflow, pos};
        return TValue(r);
      }
      if (nums) return TValue(a.AsFloat() - b.AsFloat());
      break;
    case opMultiply:
      if (ints) {
        if (__builtin_mul_overflow(ValueAccess::Int(a), ValueAccess::Int(b), &r))
          throw RuntimeFault{texts::kIntegerOverflow, pos};
        return TValue(r);
      }
      if (nums) return TValue(a.AsFloat() * b.AsFloat());
      break;
    case opDivide:
      if (nums) {
        if (b.AsFloat() == 0) throw RuntimeFault{texts::kDivisionByZero, pos};
        return TValue(a.AsFloat() / b.AsFloat());
      }
      break;
    case opIntDiv:
    case opMod:
      if (ints) {
        if (ValueAccess::Int(b) == 0) throw RuntimeFault{texts::kDivisionByZero, pos};
        if (ValueAccess::Int(b) == -1) {
          // The one quotient that does not fit; its remainder is 0.
          if (op == opMod) return TValue(std::int32_t{0});
          if (ValueAccess::Int(a) == std::numeric_limits<std::int32_t>::min())
            throw RuntimeFault{texts::kIntegerOverflow, pos};
        }
        return TValue(op == opIntDiv ? ValueAccess::Int(a) / ValueAccess::Int(b)
                                     : ValueAccess::Int(a) % ValueAccess::Int(b));
      }
      break;
    case opAnd:
      if (bools) return TValue(ValueAccess::Bool(a) && ValueAccess::Bool(b));
      if (ints) return TValue(ValueAccess::Int(a) & ValueAccess::Int(b));
      break;
    case opOr:
      if (bools) return TValue(ValueAccess::Bool(a) || ValueAccess::Bool(b));
      if (ints) return TValue(ValueAccess::Int(a) | ValueAccess::Int(b));
      break;
    case opXor:
      if (bools) return TValue(ValueAccess::Bool(a) != ValueAccess::Bool(b));
      if (ints) return TValue(ValueAccess::Int(a) ^ ValueAccess::Int(b));
      break;
    case opNegate:
    case opPlus:
    case opNot:
      break;
  }
  Mismatch(op, a, b, pos);
}

TValue UnaryOp(OpCode op, const TValue& a, SourcePos pos) {
  const unsigned t = ValueAccess::TypeCode(a);
  switch (op) {
    case opNegate:
      if (t == vtInteger) {
        if (ValueAccess::Int(a) == std::numeric_limits<std::int32_t>::min())
          throw RuntimeFault{texts::kIntegerOverflow, pos};
        return TValue(-ValueAccess::Int(a));
      }
      if (t == vtFloat) return TValue(-ValueAccess::Flt(a));
      break;
    case opPlus:
      if (t == vtInteger || t == vtFloat) return a;
      break;
    case opNot:
      if (t == vtBoolean) return TValue(!ValueAccess::Bool(a));
      if (t == vtInteger) return TValue(~ValueAccess::Int(a));
      break;
    default:
      break;
  }
  throw BadArguments(OpName(op), {&a}, Patterns(op), pos);
}

}  // namespace ruvala::script
