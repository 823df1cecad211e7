#include "ecScript.h"

#include <cctype>
#include <stdexcept>

#include "ClassUtils.h"
#include "Format.h"
#include "ecTypes.h"
#include "ecValidator.h"

namespace ruvala {

using common::Fmt;
using common::SameText;
using edicom::ComPtr;
using kalvix::IEdiSegment;
using script::TValue;

// --- TVariantMap ------------------------------------------------------------------------------

TValue TVariantMap::GetValues(std::string_view name) const {
  for (const TVariantMapItem& item : FItems)
    if (SameText(item.Name, name)) return item.Value;
  return TValue();
}

void TVariantMap::SetValues(const std::string& name, const TValue& value) {
  for (TVariantMapItem& item : FItems)
    if (SameText(item.Name, name)) {
      item.Value = value;
      return;
    }
  FItems.push_back({name, value});
}

// --- masks and paths --------------------------------------------------------------------------

static int Fold(char c) { return std::tolower(static_cast<unsigned char>(c)); }

// Matches one bracket set at mask[m] ("[" already seen at m - 1) against c; sets `end` past "]".
// False with end = npos when the set is not closed.
static bool MatchSet(std::string_view mask, std::size_t m, char c, std::size_t& end) {
  bool negate = m < mask.size() && mask[m] == '!';
  if (negate) ++m;
  bool hit = false;
  std::size_t i = m;
  for (; i < mask.size() && (mask[i] != ']' || i == m); ++i) {
    int lo = Fold(mask[i]), hi = lo;
    if (i + 2 < mask.size() && mask[i + 1] == '-' && mask[i + 2] != ']') {
      hi = Fold(mask[i + 2]);
      i += 2;
    }
    int fc = Fold(c);
    if (fc >= lo && fc <= hi) hit = true;
  }
  if (i >= mask.size()) {
    end = std::string_view::npos;
    return false;
  }
  end = i + 1;
  return hit != negate;
}

bool MatchesMask(std::string_view text, std::string_view mask) {
  // Iterative matching with one backtrack point for the last "*": linear in practice and never
  // recursive, whatever the mask.
  std::size_t t = 0, m = 0, starM = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (m < mask.size()) {
      char mc = mask[m];
      if (mc == '*') {
        starM = ++m;
        starT = t;
        continue;
      }
      if (mc == '?') {
        ++m;
        ++t;
        continue;
      }
      if (mc == '[') {
        std::size_t end = 0;
        bool hit = MatchSet(mask, m + 1, text[t], end);
        if (end != std::string_view::npos) {
          if (hit) {
            m = end;
            ++t;
            continue;
          }
        } else if (Fold(text[t]) == '[') {  // an unclosed "[" stands for itself
          ++m;
          ++t;
          continue;
        }
      } else if (Fold(mc) == Fold(text[t])) {
        ++m;
        ++t;
        continue;
      }
    }
    if (starM == std::string_view::npos) return false;
    m = starM;
    t = ++starT;
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string cur;
  for (std::size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == '?' && i + 1 < path.size()) {
      cur.push_back(c);
      cur.push_back(path[++i]);
    } else if (c == '\'') {
      parts.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) parts.push_back(std::move(cur));
  return parts;
}

TPathPart SplitTagQual(std::string_view part) {
  TPathPart out;
  std::string* cur = &out.Tag;
  for (std::size_t i = 0; i < part.size(); ++i) {
    char c = part[i];
    if (c == '?' && i + 1 < part.size()) {
      cur->push_back(c);
      cur->push_back(part[++i]);
    } else if (c == '\'') {
      break;
    } else if (c == '+' && !out.HasQual) {
      out.HasQual = true;
      cur = &out.Qual;
    } else {
      cur->push_back(c);
    }
  }
  return out;
}

// --- TScriptModule ----------------------------------------------------------------------------

TScriptModule::TScriptModule() {
  FScript.AddFunction("FindChild(string):boolean", [this](const auto& a) { return FindChildEval(a); });
  FScript.AddFunction("Trace(string)", [this](const auto& a) { return TraceEval(a); });
  FScript.AddFunction("Find(string):boolean", [this](const auto& a) { return FindEval(a); });
  FScript.AddFunction("VarExists(string):boolean", [this](const auto& a) { return VarExistsEval(a); });
  FScript.OnVarChange = [this](const std::string& name, const TValue& value) { ScriptVarChange(name, value); };
}

bool TScriptModule::Execute(const std::string& aScript, std::string& errorMsg) {
  if (!Validator) throw std::logic_error("TScriptModule.Execute: no validator");
  for (const auto& item : Validator->GlobalVar().Items()) FScript.SetGlobalVariable(item.Name, item.Value);
  FScript.Run(aScript);
  for (const script::TScriptMessage& m : FScript.Messages())
    if (m.Kind == script::mkError || m.Kind == script::mkRuntimeError)
      throw std::runtime_error(Fmt("Script Error : %s", m.Text));
  const TValue* result = FScript.FindVariable("result");
  if (!result) throw std::runtime_error("Unable to retreive \"Result\" value");
  bool pass = SameText(result->Assigned() ? result->AsString() : std::string(), "True");
  if (!pass) {
    const TValue* msg = FScript.FindVariable("ErrorMsg");
    errorMsg = msg && msg->Assigned() ? msg->AsString() : std::string();
  }
  return pass;
}

void TScriptModule::ScriptVarChange(const std::string& name, const TValue& value) {
  if (OnTrace) OnTrace(Fmt("Variable \"%s\" changed to \"%s\"", name, value.Assigned() ? value.AsString() : ""));
  if (Validator) Validator->GlobalVar().SetValues(name, value);
}

TValue TScriptModule::FindChildEval(const std::vector<TValue>& args) {
  if (!Segment) throw script::EScriptError("FindChild: no current segment");
  TPathPart p = SplitTagQual(args.at(0).AsString());
  std::string qual = p.HasQual ? p.Qual : "*";
  TSgmt seg{ComPtr<IEdiSegment>(Segment)};
  int level = seg.Level();
  for (ComPtr<IEdiSegment> cur = seg.FirstChild(); cur;) {
    TSgmt c(cur);
    if (c.Level() <= level) break;
    if (c.Tag() == p.Tag && (qual == "*" || c.Qualifier() == qual)) return TValue(true);
    cur = c.Next();
  }
  return TValue(false);
}

TValue TScriptModule::FindEval(const std::vector<TValue>& args) {
  if (!Edi) throw script::EScriptError("Find: no message");
  edicom::Variant v;
  if (edicom::FAILED(Edi->GetFirstSgmt(&v))) throw script::EScriptError("Find: GetFirstSgmt failed");
  ComPtr<IEdiSegment> first = SegmentFromVariant(v);
  ComPtr<IEdiSegment> header;
  for (ComPtr<IEdiSegment> cur = first ? TSgmt(first).Next() : nullptr; cur; cur = TSgmt(cur).Next()) {
    TSgmt c(cur);
    if (c.Tag() != "XEH") continue;
    std::string x912 = c.Find("X912", 1);
    if (x912.size() < 4) x912.insert(0, 4 - x912.size(), '0');
    if (MatchesMask(x912, X912)) {
      header = cur;
      break;
    }
  }
  if (!header) throw script::EScriptError(Fmt("Find: no message header matches X912 \"%s\"", X912));

  TSgmt head(header);
  int level = head.Level();
  for (const std::string& text : SplitPath(args.at(0).AsString())) {
    TPathPart p = SplitTagQual(text);
    bool found = false;
    for (ComPtr<IEdiSegment> cur = head.FirstChild(); cur && !found;) {
      TSgmt c(cur);
      if (c.Level() <= level) break;
      found = c.Tag() == p.Tag && c.Qualifier() == p.Qual;
      cur = c.Next();
    }
    if (!found) return TValue(false);
  }
  return TValue(true);
}

TValue TScriptModule::VarExistsEval(const std::vector<TValue>& args) {
  const TValue* v = FScript.FindVariable(args.at(0).AsString());
  return TValue(v != nullptr && v->Assigned());
}

TValue TScriptModule::TraceEval(const std::vector<TValue>& args) {
  if (OnTrace) OnTrace(args.at(0).AsString());
  return TValue::Void();
}

TScriptModule& ScriptModule() {
  static TScriptModule module;
  return module;
}

}  // namespace ruvala
