// verimek-cli script FILE: compiles and runs a control script the way the engine runs a rule's
// condition, with an empty message, and prints the messages and every variable. For rule authors.
#include <ruvala/Script.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "Output.h"

namespace cli {

using ruvala::script::TScriptEngine;
using ruvala::script::TValue;

namespace {

// Writes go through here so that one failed write (a full disk, a closed pipe) fails the command.
bool gWriteFailed = false;
void Out(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) gWriteFailed = true;
}

// Written piece by piece: an array of large texts must not be copied into one more text.
void PrintValue(const TValue& v) {
  if (!v.Assigned()) return Out("(not assigned)");
  std::string type = ruvala::script::TypeName(v.Type());
  if (v.IsArray()) {
    Out("ARRAY OF " + type + " [");
    for (std::size_t i = 0; i < v.ElementCount(); ++i) {
      if (i) Out(", ");
      Out(v.Element(i).AsString());
    }
    return Out("]");
  }
  if (v.Type() == ruvala::script::vtString) return Out(type + " '" + v.AsString() + "'");
  Out(type + " " + v.AsString());
}

int RunScript(const Args& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: verimek-cli script FILE\n");
    return 2;
  }
  std::string text;
  if (!ReadWholeFile(args[0], text)) {
    ErrPrintf("verimek-cli: cannot read \"%s\"\n", args[0].c_str());
    return 2;
  }

  // The four host functions of the engine, as they behave without a message and segment.
  TScriptEngine engine;
  engine.AddFunction("FindChild(string):boolean", [](const std::vector<TValue>&) -> TValue {
    throw ruvala::script::EScriptError("FindChild: no current segment");
  });
  engine.AddFunction("Trace(string)", [](const std::vector<TValue>& a) {
    std::fprintf(stderr, "<Script> %s\n", a.at(0).AsString().c_str());
    return TValue::Void();
  });
  engine.AddFunction("Find(string):boolean", [](const std::vector<TValue>&) -> TValue {
    throw ruvala::script::EScriptError("Find: no message header matches X912 \"*\"");
  });
  engine.AddFunction("VarExists(string):boolean", [&engine](const std::vector<TValue>& a) {
    const TValue* v = engine.FindVariable(a.at(0).AsString());
    return TValue(v != nullptr && v->Assigned());
  });
  engine.SetGlobalConstant("Value", TValue(std::string()));

  bool ok = engine.Run(text);
  Out("Messages:\n");
  for (const auto& m : engine.Messages()) Out("  " + m.ToString() + "\n");
  Out("Variables:\n");
  for (const auto& [name, value] : engine.Variables()) {
    Out("  " + name + " = ");
    PrintValue(value);
    Out("\n");
  }
  if (!engine.Output().empty()) Out("Output:\n" + engine.Output() + "\n");
  // A failed write ends the command with status 2 where it returns.
  if (gWriteFailed) return 2;
  return ok ? 0 : 1;
}

}  // namespace

int CmdScript(const Args& args) {
  // Whatever escapes the run (memory exhausted while printing, say) ends the command cleanly.
  try {
    return RunScript(args);
  } catch (const std::exception& e) {
    ErrPrintf("verimek-cli: script failed (%s)\n", e.what());
  } catch (...) {
    ErrPrintf("verimek-cli: script failed (unknown exception)\n");
  }
  return 2;
}

}  // namespace cli
