// The script host: runs the condition scripts of the control tables against the message being
// validated, with four host functions that look into the message, the validator's shared
// variables fed in before each run and recorded back on every assignment, and the
// `result`/`ErrorMsg` contract turned into pass or fail.
#pragma once

#include <edicom/EdiComCpp.h>
#include <kalvix/Kalvix.h>
#include <ruvala/Script.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvala {

class TValidator;

// Variables shared by the control scripts of one validator, in the order they were first set;
// names compare ignoring case.
class TVariantMap {
 public:
  struct TVariantMapItem {
    std::string Name;
    script::TValue Value;
  };
  // The value stored under that name; an unassigned value when there is none.
  script::TValue GetValues(std::string_view name) const;
  // Replaces the entry of that name, or appends one.
  void SetValues(const std::string& name, const script::TValue& value);
  const std::vector<TVariantMapItem>& Items() const { return FItems; }
  void Clear() { FItems.clear(); }

 private:
  std::vector<TVariantMapItem> FItems;
};

// Wildcard mask: "*" any run, "?" any one character, "[a-c]" and "[!a-c]" sets; ignoring case.
bool MatchesMask(std::string_view text, std::string_view mask);

// Path splitting of FindChild and Find: the text before the first "+" (or the whole text) and
// the text after it, each part ending at the first apostrophe; "?" releases the next character,
// which is kept with its "?" and never split on.
struct TPathPart {
  std::string Tag;
  std::string Qual;
  bool HasQual = false;
};
std::vector<std::string> SplitPath(std::string_view path);  // on unreleased apostrophes
TPathPart SplitTagQual(std::string_view part);

class TScriptModule {
 public:
  using TOnTrace = std::function<void(const std::string& msg)>;

  TScriptModule();
  TScriptModule(const TScriptModule&) = delete;
  TScriptModule& operator=(const TScriptModule&) = delete;

  // Runs the script; true when it passes. On failure ErrorMsg receives the script's `ErrorMsg`
  // (empty when it set none); on pass it is left as it was. Throws "Script Error : %s" and
  // "Unable to retreive \"Result\" value".
  bool Execute(const std::string& aScript, std::string& errorMsg);

  // Set by the caller before each run. The message and segment are borrowed: the caller holds
  // them for the length of the run.
  TOnTrace OnTrace;
  kalvix::IEdiSegment* Segment = nullptr;  // nullptr = Null
  kalvix::IEdiMessage* Edi = nullptr;
  TValidator* Validator = nullptr;
  std::string X912;  // mask of the unit whose header Find starts from

  script::TScriptEngine& Script() { return FScript; }

 private:
  script::TValue FindChildEval(const std::vector<script::TValue>& args);
  script::TValue FindEval(const std::vector<script::TValue>& args);
  script::TValue VarExistsEval(const std::vector<script::TValue>& args);
  script::TValue TraceEval(const std::vector<script::TValue>& args);
  void ScriptVarChange(const std::string& name, const script::TValue& value);

  script::TScriptEngine FScript;
};

// The host of the process, created on first use; lives until the engine is unloaded.
TScriptModule& ScriptModule();

}  // namespace ruvala
