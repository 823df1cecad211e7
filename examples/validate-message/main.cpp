// validate-message: validates one Telebib2 message with the engine and prints its findings.
//   validate-message MESSAGE-OR-FILE
// The argument is read as a file when one of that name exists, else taken as the message text.
// The engine is reached through the class registry: run "verimek-cli register" first.
// Exit status: 0 no error found, 1 errors found, 2 the validation could not run.
#include <edicom/EdiComCpp.h>
#include <ruvala/Ruvala.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

using namespace edicom;

namespace {

std::string MessageText(const std::string& arg) {
  std::ifstream in(arg, std::ios::binary);
  if (!in) return arg;
  std::ostringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

int Fail(const char* what, HRESULT hr) {
  std::string why = TakeErrorDescription();
  std::fprintf(stderr, "validate-message: %s failed (0x%08X)%s%s\n", what, static_cast<unsigned>(hr),
               why.empty() ? "" : ": ", why.c_str());
  return 2;
}

// One finding per line: list, code, segment number, segment key and message.
void Print(const char* list, const BStr& code, std::int32_t segmentNo, const BStr& key, const BStr& message) {
  std::printf("%s %s segment %d %s: %s\n", list, code.Utf8().c_str(), static_cast<int>(segmentNo), key.Utf8().c_str(),
              message.Utf8().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: validate-message MESSAGE-OR-FILE\n");
    return 2;
  }
  ScopedApartment apartment;
  ComPtr<ruvala::IEdiDocument> doc;
  HRESULT hr = CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc);
  if (FAILED(hr)) return Fail("creating Verimek.EdiDocument", hr);

  BStr text(MessageText(argv[1]));
  VARIANT_BOOL valid = VARIANT_FALSE;
  if (FAILED(hr = doc->Validate(text.Get(), &valid))) return Fail("Validate", hr);

  std::int32_t errors = 0, warnings = 0;
  doc->get_ErrorCount(&errors);
  doc->get_WarningCount(&warnings);
  for (std::int32_t i = 0; i < errors; ++i) {
    ComPtr<ruvala::IEdiError> e;
    if (FAILED(hr = doc->get_Errors(i, e.Put()))) return Fail("Errors", hr);
    std::int32_t segmentNo = 0;
    BStr code, key, message;
    e->get_ErrorCode(code.Put());
    e->get_SegmentNo(&segmentNo);
    e->get_SegmentKey(key.Put());
    e->get_ErrorMessage(message.Put());
    Print("error", code, segmentNo, key, message);
  }
  for (std::int32_t i = 0; i < warnings; ++i) {
    ComPtr<ruvala::IEdiWarning> w;
    if (FAILED(hr = doc->get_Warnings(i, w.Put()))) return Fail("Warnings", hr);
    std::int32_t segmentNo = 0;
    BStr code, key, message;
    w->get_WarningCode(code.Put());
    w->get_SegmentNo(&segmentNo);
    w->get_SegmentKey(key.Put());
    w->get_WarningMessage(message.Put());
    Print("warning", code, segmentNo, key, message);
  }
  std::printf("%s: %d error(s), %d warning(s)\n", valid ? "valid" : "invalid", static_cast<int>(errors),
              static_cast<int>(warnings));
  return errors > 0 ? 1 : 0;
}
