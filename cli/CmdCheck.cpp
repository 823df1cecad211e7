// check: validate a file's text as one message, the way the desktop program's message sheet does.
#include <edicom/EdiComCpp.h>
#include <ruvala/Ruvala.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ClassUtils.h"
#include "Commands.h"
#include "DateUtils.h"
#include "Output.h"
#include "TextCodec.h"

namespace cli {

using namespace edicom;

namespace {

struct Finding {
  int segmentNo = 0;
  std::string key, code, message;
};

// Configuration boxes of the engine go to standard error; they mean the referential is unusable.
int gErrorBoxes = 0;
void ErrorBoxToStderr(const char* text, void*) {
  ++gErrorBoxes;
  ErrPrintf("%s\n", text);
}

void PrintJsonArray(const char* name, const std::vector<Finding>& list, bool last) {
  std::printf("  \"%s\": [", name);
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Finding& f = list[i];
    std::printf("%s\n    {\"segmentNo\": %d, \"segmentKey\": %s, \"code\": %s, \"message\": %s}", i ? "," : "",
                f.segmentNo, JsonString(f.key).c_str(), JsonString(f.code).c_str(), JsonString(f.message).c_str());
  }
  std::printf("%s]%s\n", list.empty() ? "" : "\n  ", last ? "" : ",");
}

std::string Failure(HRESULT hr) {
  std::string why = TakeErrorDescription();
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return why.empty() ? std::string(buf) : why;
}

}  // namespace

int CmdCheck(const Args& args) {
  std::string file, messageDate;
  bool checkFilter = true, interApp = false, json = false, hasMessageDate = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--message-date" && i + 1 < args.size()) {
      messageDate = args[++i];
      hasMessageDate = true;
    } else if (a.rfind("--message-date=", 0) == 0) {
      messageDate = a.substr(15);
      hasMessageDate = true;
    } else if (a == "--no-check-filter")
      checkFilter = false;
    else if (a == "--inter-application")
      interApp = true;
    else if (a == "--json")
      json = true;
    else if (file.empty() && (a.empty() || a[0] != '-'))
      file = a;
    else {
      ErrPrintf("verimek-cli check: unknown option \"%s\"\n", a.c_str());
      return 2;
    }
  }
  if (file.empty()) {
    ErrPrintf(
        "usage: verimek-cli check FILE [--message-date YYYY-MM-DD] [--no-check-filter] "
        "[--inter-application] [--json]\n");
    return 2;
  }
  DATE day = common::TodayDate();
  // As validate reads it; an empty date is refused, not taken for today.
  if (hasMessageDate && !common::TryParseIsoDate(messageDate, day)) {
    ErrPrintf("verimek-cli: invalid date \"%s\" (expecting YYYY-MM-DD)\n", messageDate.c_str());
    return 2;
  }
  std::string text;
  if (!ReadWholeFile(file, text)) {
    ErrPrintf("verimek-cli: cannot read \"%s\"\n", file.c_str());
    return 2;
  }
  if (!common::IsValidUtf8(text)) text = common::AnsiToUtf8(text);
  text = common::TString::UnformatEdifact(text);

  EdiSetErrorBoxHandler(ErrorBoxToStderr, nullptr);
  ComPtr<ruvala::IEdiDocument> doc;
  HRESULT hr = CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc);
  if (FAILED(hr)) {
    ErrPrintf("verimek-cli: cannot create Verimek.EdiDocument (%s); run \"verimek-cli register\"\n",
              Failure(hr).c_str());
    return 2;
  }
  doc->put_MessageDate(day);
  doc->put_CheckFilter(checkFilter ? VARIANT_TRUE : VARIANT_FALSE);
  doc->put_InterApplication(interApp ? VARIANT_TRUE : VARIANT_FALSE);
  BStr msg(text);
  VARIANT_BOOL valid = VARIANT_FALSE;
  hr = doc->Validate(msg.Get(), &valid);
  if (FAILED(hr)) {
    ErrPrintf("verimek-cli: %s\n", Failure(hr).c_str());
    return 2;
  }
  if (gErrorBoxes > 0) return 2;  // the referential could not be loaded: the findings mean nothing

  std::vector<Finding> errors, warnings;
  std::int32_t n = 0;
  doc->get_ErrorCount(&n);
  for (std::int32_t i = 0; i < n; ++i) {
    ComPtr<ruvala::IEdiError> e;
    if (FAILED(hr = doc->get_Errors(i, e.Put()))) {
      ErrPrintf("verimek-cli: %s\n", Failure(hr).c_str());
      return 2;
    }
    Finding f;
    BStr key, code, text2;
    e->get_SegmentNo(&f.segmentNo);
    e->get_SegmentKey(key.Put());
    e->get_ErrorCode(code.Put());
    e->get_ErrorMessage(text2.Put());
    f.key = key.Utf8();
    f.code = code.Utf8();
    f.message = text2.Utf8();
    errors.push_back(f);
  }
  doc->get_WarningCount(&n);
  for (std::int32_t i = 0; i < n; ++i) {
    ComPtr<ruvala::IEdiWarning> w;
    if (FAILED(hr = doc->get_Warnings(i, w.Put()))) {
      ErrPrintf("verimek-cli: %s\n", Failure(hr).c_str());
      return 2;
    }
    Finding f;
    BStr key, code, text2;
    w->get_SegmentNo(&f.segmentNo);
    w->get_SegmentKey(key.Put());
    w->get_WarningCode(code.Put());
    w->get_WarningMessage(text2.Put());
    f.key = key.Utf8();
    f.code = code.Utf8();
    f.message = text2.Utf8();
    warnings.push_back(f);
  }

  if (json) {
    std::printf("{\n");
    PrintJsonArray("errors", errors, false);
    PrintJsonArray("warnings", warnings, true);
    std::printf("}\n");
  } else {
    for (const Finding& f : errors)
      std::printf("E\t%d\t%s\t%s\t%s\n", f.segmentNo, f.key.c_str(), f.code.c_str(), f.message.c_str());
    for (const Finding& f : warnings)
      std::printf("W\t%d\t%s\t%s\t%s\n", f.segmentNo, f.key.c_str(), f.code.c_str(), f.message.c_str());
  }
  return errors.empty() ? 0 : 1;
}

}  // namespace cli
