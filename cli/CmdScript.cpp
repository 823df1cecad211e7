// verimek-cli script FILE: compiles and runs a control script the way the engine runs a rule's
// condition, with an empty message, and prints the messages and every variable. For rule authors.
#include <ruvala/Script.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "Commands.h"

namespace cli {

using ruvala::script::TScriptEngine;
using ruvala::script::TValue;

static std::string Describe(const TValue& v) {
  if (!v.Assigned()) return "(not assigned)";
  std::string type = ruvala::script::TypeName(v.Type());
  if (v.IsArray()) {
    std::string s = "ARRAY OF " + type + " [";
    for (std::size_t i = 0; i < v.ElementCount(); ++i) s += (i ? ", " : "") + v.Element(i).AsString();
    return s + "]";
  }
  std::string text = v.AsString();
  if (v.Type() == ruvala::script::vtString) text = "'" + text + "'";
  return type + " " + text;
}

int CmdScript(const Args& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: verimek-cli script FILE\n");
    return 2;
  }
  std::ifstream in(args[0], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "verimek-cli: cannot read \"%s\"\n", args[0].c_str());
    return 2;
  }
  std::stringstream text;
  text << in.rdbuf();

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

  bool ok = engine.Run(text.str());
  std::printf("Messages:\n");
  for (const auto& m : engine.Messages()) std::printf("  %s\n", m.ToString().c_str());
  std::printf("Variables:\n");
  for (const auto& [name, value] : engine.Variables()) std::printf("  %s = %s\n", name.c_str(), Describe(value).c_str());
  if (!engine.Output().empty()) std::printf("Output:\n%s\n", engine.Output().c_str());
  return ok ? 0 : 1;
}

}  // namespace cli
