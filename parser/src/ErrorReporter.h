// The ordered list of problem texts of one parse, shared by the lexer and the grammar.
#pragma once

#include <string>
#include <vector>

namespace kalvix {

class ErrorReporter {
 public:
  // Appends the text and, unless KALVIX_ERROR_ECHO=0 is set in the environment or echo is off
  // for this list, writes "ErrorReporter: <text>" to standard error.
  void Add(std::string text);
  // A list used only to look for problems (never shown) keeps them off standard error.
  void SetEcho(bool on) { FEcho = on; }
  int Count() const { return static_cast<int>(FErrors.size()); }
  const std::string& At(int i) const { return FErrors[static_cast<std::size_t>(i)]; }
  void Clear() { FErrors.clear(); }

  // Whether Add echoes to standard error; read from the environment once per process and
  // changeable by the host (benchmarks, batch tools).
  static bool EchoEnabled();
  static void SetEchoEnabled(bool on);

 private:
  std::vector<std::string> FErrors;
  bool FEcho = true;
};

}  // namespace kalvix
