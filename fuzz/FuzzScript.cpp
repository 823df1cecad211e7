// Any text through the script compiler and interpreter: messages, never a crash, a hang or a
// leak. Each input runs twice on one engine (the second time from the compiled-text cache, which
// must repeat the first run exactly) and once more with the host's globals preset. The unit
// tests replay fuzz/corpus/script through this same entry point.
#include <ruvala/Script.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using ruvala::script::TScriptEngine;
using ruvala::script::TScriptMessage;
using ruvala::script::TValue;

namespace {

// Small enough that an endless loop ends in milliseconds, large enough to reach deep code.
constexpr std::uint64_t kSteps = 20'000;

void AddHostFunctions(TScriptEngine& e) {
  e.AddFunction("FindChild(string):boolean",
                [](const std::vector<TValue>& a) { return TValue(a.at(0).AsString().size() % 2 == 0); });
  e.AddFunction("Find(string):boolean", [](const std::vector<TValue>& a) {
    if (a.at(0).AsString() == "XEH") throw ruvala::script::EScriptError("no unit header");
    return TValue(a[0].AsString().empty());
  });
  e.AddFunction("Trace(string)", [](const std::vector<TValue>&) { return TValue(); });
  e.AddFunction("VarExists(string):boolean", [&e](const std::vector<TValue>& a) {
    const TValue* v = e.FindVariable(a.at(0).AsString());
    return TValue(v != nullptr && v->Assigned());
  });
}

bool Same(const std::vector<TScriptMessage>& a, const std::vector<TScriptMessage>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].ToString() != b[i].ToString()) return false;
  return true;
}

// A failed run must say why; a run must agree with its own message list.
void CheckConsistent(const TScriptEngine& e, bool ok) {
  if (ok == e.HasErrors()) std::abort();
  if (!ok && e.Messages().front().Text.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TScriptEngine e;
  AddHostFunctions(e);
  e.SetStepLimit(kSteps);
  e.OnVarChange = [](const std::string& name, const TValue& value) {
    if (name.empty() || !value.Assigned()) std::abort();
  };

  const bool first = e.Run(text);
  CheckConsistent(e, first);
  const std::vector<TScriptMessage> firstMessages = e.Messages();
  const std::string firstOutput = e.Output();
  const bool second = e.Run(text);
  if (second != first || !Same(firstMessages, e.Messages()) || e.Output() != firstOutput) std::abort();
  for (const auto& [name, value] : e.Variables()) (void)value.AsString();

  e.SetGlobalConstant("Value", TValue("0002"));
  e.SetGlobalVariable("result", TValue(true));
  e.SetGlobalVariable("ErrorMsg", TValue("previous"));
  CheckConsistent(e, e.Run(text));
  if (const TValue* r = e.FindVariable("result")) (void)r->AsString();
  return 0;
}
