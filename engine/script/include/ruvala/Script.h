// The control script language: a small structured language with BEGIN/END blocks and ":="
// assignment in which the control tables write their conditions. Scripts are compiled to a
// tree once per distinct text and run from that tree; nothing is re-parsed while running.
// This header is the script library's whole interface: compile and run a text with host
// functions and preset globals, then read its messages, variables and output; a run's work is
// bounded by a step limit. Its lexer, parser and tree stay inside the library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvala::script {

// Type codes, also used in messages joined by "/" ("VOID", "BOOLEAN", ...).
enum TValueType : std::uint16_t {
  vtVoid = 1,
  vtBoolean = 2,
  vtInteger = 4,
  vtFloat = 8,
  vtString = 16,
};
// Flags of a parameter in a routine declaration.
enum TParamFlag : std::uint16_t { pfVar = 32, pfArray = 64, pfFunc = 128, pfOpen = 256 };

// "BOOLEAN/STRING" for a set of type codes; "VOID" for vtVoid.
std::string TypeName(unsigned typeCodes);

// A value of the language: unassigned, void, boolean, 32-bit integer, double, UTF-8 text, or
// an array of one of the four basic types. Copies are cheap for scalars; arrays copy deeply.
class TValue {
 public:
  TValue();  // unassigned
  static TValue Void();
  TValue(bool v);
  TValue(std::int32_t v);
  TValue(double v);
  TValue(std::string v);
  TValue(const char* v);

  bool Assigned() const;
  bool IsArray() const;
  // The basic type (of the elements, for an array); vtVoid when unassigned or void.
  TValueType Type() const;
  bool AsBoolean() const;
  std::int32_t AsInteger() const;
  double AsFloat() const;
  // Text form: "True"/"False", decimal integers, floats as the shortest text that reads back;
  // an array gives only its type and lengths, e.g. "ARRAY INTEGER[2, 3]".
  std::string AsString() const;

  // Arrays (index 0 up): dimension lengths and element access; the element at a flat index
  // in row-major order. Out-of-range use is the caller's error.
  const std::vector<std::int32_t>& Dimensions() const;
  std::size_t ElementCount() const;
  const TValue& Element(std::size_t flatIndex) const;

  bool operator==(const TValue& o) const;

 private:
  friend class TScriptEngine;
  friend struct ValueAccess;  // the interpreter's view of the representation
  struct Rep;
  std::shared_ptr<const std::string> FText;  // shared, so copying a long text allocates nothing
  std::shared_ptr<Rep> FRep;                 // elements of an array; copy-on-write
  union {
    double FFloat = 0;
    std::int32_t FInt;
    bool FBool;
  };
  TValueType FType = vtVoid;  // of the elements, for an array
  bool FAssigned = false;
};

enum TMessageKind : std::uint8_t { mkHint, mkWarning, mkError, mkRuntimeError };

struct TScriptMessage {
  TMessageKind Kind = mkError;
  std::string Text;  // bare text, e.g. "Variable X is not defined."
  int Line = 0;      // 1-based; 0 when no position applies
  int Column = 0;
  // "Error: %s [line: %d, column: %d]" and the other kinds ("Hint: ", "Warning: ",
  // "Runtime Error: "); without position when Line is 0.
  std::string ToString() const;
};

// Raised by a host function to end the run with a run-time error carrying its text.
class EScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TScriptEngine {
 public:
  TScriptEngine();
  ~TScriptEngine();
  TScriptEngine(const TScriptEngine&) = delete;
  TScriptEngine& operator=(const TScriptEngine&) = delete;

  // A host routine declared by its signature text, e.g. "FindChild(string):boolean" or
  // "Trace(string)": arguments are checked against it before `eval` is called with their
  // values. An exception from `eval` ends the run as a run-time error with its message.
  using THostFunction = std::function<TValue(const std::vector<TValue>& args)>;
  void AddFunction(const std::string& declaration, THostFunction eval);

  // Globals and constants preset by name (case-insensitive), created when new, kept across
  // runs for the life of the engine. Setting replaces value and type.
  void SetGlobalVariable(const std::string& name, const TValue& value);
  void SetGlobalConstant(const std::string& name, const TValue& value);

  // Called on every assignment to a variable (array elements excepted) before the new value
  // is stored, with the variable's name as written in the script and the new value.
  std::function<void(const std::string& name, const TValue& value)> OnVarChange;

  // Compiles (or takes from this engine's cache of compiled texts) and runs the script.
  // The script's own variables are reset first; globals keep their values. Returns false when
  // the message list holds an error afterwards.
  bool Run(const std::string& text);
  // Compiles only; false when the text has errors (they are in Messages()).
  bool Compile(const std::string& text);

  // Messages of the last Compile or Run, in order.
  const std::vector<TScriptMessage>& Messages() const;
  bool HasErrors() const;

  // After a run: a script variable, global or constant by name (case-insensitive); nullptr
  // when the engine knows none.
  const TValue* FindVariable(std::string_view name) const;
  // Every script variable of the last run, then every global and constant, with its value.
  std::vector<std::pair<std::string, TValue>> Variables() const;

  // Text appended by Send and SendLn during the last run.
  const std::string& Output() const;

  // Bound on the work of one run; past it the run ends with "Script stopped.".
  void SetStepLimit(std::uint64_t steps);
  static constexpr std::uint64_t kDefaultStepLimit = 10'000'000;
  // Bound on what the values of one run hold (texts, arrays, variables, output, and the
  // globals); past it the run ends with "Script memory limit of %d MiB exceeded.".
  void SetMemoryLimit(std::size_t bytes);
  static constexpr std::size_t kDefaultMemoryLimit = std::size_t{256} << 20;

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace ruvala::script
