// Helpers shared by the script tests: the outcome of a run as one comparable text.
#pragma once

#include <gtest/gtest.h>
#include <ruvala/Script.h>

#include <string>
#include <vector>

namespace ruvala::script {

// "INTEGER 7", "STRING 'It's'", "ARRAY INTEGER[2]", "unassigned".
inline std::string Describe(const TValue& v) {
  if (!v.Assigned()) return "unassigned";
  if (v.IsArray()) return v.AsString();
  if (v.Type() == vtString) return "STRING '" + v.AsString() + "'";
  return TypeName(v.Type()) + " " + v.AsString();
}

// After a clean run, the variable r described; otherwise the first message as shown.
inline std::string Outcome(TScriptEngine& engine, const std::string& script) {
  if (!engine.Run(script))
    return engine.Messages().empty() ? "<failed without message>" : engine.Messages()[0].ToString();
  const TValue* r = engine.FindVariable("r");
  return r ? Describe(*r) : "<no r>";
}

inline std::string Outcome(const std::string& script) {
  TScriptEngine engine;
  return Outcome(engine, script);
}

struct Case {
  std::string script;
  std::string expected;
};

inline void ExpectOutcomes(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Outcome(c.script), c.expected);
  }
}

}  // namespace ruvala::script
