// The fake document, its finding objects and the fake parser message.
#include "FakeEngine.h"

#include "EdiProcs.h"

namespace fake {

using namespace edicom;

static BSTR Alloc(const std::string& utf8) {
  std::u16string w = Utf8ToUtf16(utf8);
  return SysAllocStringLen(w.data(), static_cast<unsigned>(w.size()));
}

class TFakeError final : public DispatchObject<TFakeError, ruvala::IEdiError> {
 public:
  static constexpr const IID& kInterfaceId = ruvala::IID_IEdiError;
  static const DispMember* DispTable(std::size_t& n) {
    n = 0;
    return nullptr;
  }
  explicit TFakeError(TFakeFinding f) : F(std::move(f)) {}
  HRESULT get_SegmentNo(std::int32_t* v) override { return *v = F.SegmentNo, S_OK; }
  HRESULT put_SegmentNo(std::int32_t) override { return E_NOTIMPL; }
  HRESULT get_SegmentKey(BSTR* v) override { return *v = Alloc(F.Key), S_OK; }
  HRESULT put_SegmentKey(BSTR) override { return E_NOTIMPL; }
  HRESULT get_ErrorMessage(BSTR* v) override { return *v = Alloc(F.Text), S_OK; }
  HRESULT put_ErrorMessage(BSTR) override { return E_NOTIMPL; }
  HRESULT get_ToString(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_ErrorCode(BSTR* v) override { return *v = Alloc(F.Code), S_OK; }
  HRESULT put_ErrorCode(BSTR) override { return E_NOTIMPL; }

 private:
  TFakeFinding F;
};

class TFakeWarning final : public DispatchObject<TFakeWarning, ruvala::IEdiWarning> {
 public:
  static constexpr const IID& kInterfaceId = ruvala::IID_IEdiWarning;
  static const DispMember* DispTable(std::size_t& n) {
    n = 0;
    return nullptr;
  }
  explicit TFakeWarning(TFakeFinding f) : F(std::move(f)) {}
  HRESULT get_SegmentNo(std::int32_t* v) override { return *v = F.SegmentNo, S_OK; }
  HRESULT put_SegmentNo(std::int32_t) override { return E_NOTIMPL; }
  HRESULT get_SegmentKey(BSTR* v) override { return *v = Alloc(F.Key), S_OK; }
  HRESULT put_SegmentKey(BSTR) override { return E_NOTIMPL; }
  HRESULT get_WarningMessage(BSTR* v) override { return *v = Alloc(F.Text), S_OK; }
  HRESULT put_WarningMessage(BSTR) override { return E_NOTIMPL; }
  HRESULT get_ToString(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_WarningCode(BSTR* v) override { return *v = Alloc(F.Code), S_OK; }
  HRESULT put_WarningCode(BSTR) override { return E_NOTIMPL; }

 private:
  TFakeFinding F;
};

class TFakeDocument final : public DispatchObject<TFakeDocument, ruvala::IEdiDocument> {
 public:
  static constexpr const IID& kInterfaceId = ruvala::IID_IEdiDocument;
  static const DispMember* DispTable(std::size_t& n) {
    n = 0;
    return nullptr;
  }
  explicit TFakeDocument(TFakeLog* log = nullptr) : FLog(log) {
    if (FLog) ++FLog->Documents;
  }

  HRESULT Validate(BSTR e1, VARIANT_BOOL* valid) override {
    std::string text = Utf16ToUtf8(std::u16string_view(e1, SysStringLen(e1)));
    if (FLog) FLog->Validated.push_back(text);
    FErrors.clear();
    FWarnings.clear();
    if (text.find("BOOM'") != std::string::npos) {
      SetErrorInfoText(u"engine down", u"Verimek.EdiDocument");
      return E_UNEXPECTED;
    }
    std::string_view rest = text;
    while (!rest.empty()) {
      std::string seg(common::EdiFetch(rest, '\'', '?'));
      if (seg.rfind("FAKE+", 0) != 0) continue;
      std::string s = seg.substr(5);
      std::string kind = common::EdiFetch(s, '+', '?');
      TFakeFinding f;
      f.Code = common::EdiFetch(s, '+', '?');
      f.SegmentNo = std::stoi(common::EdiFetch(s, '+', '?'));
      f.Key = common::EdiUnescape(common::EdiFetch(s, '+', '?'), '?');
      f.Text = common::EdiUnescape(s, '?');
      (kind == "E" ? FErrors : FWarnings).push_back(f);
    }
    *valid = FErrors.empty() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT get_ErrorCount(std::int32_t* c) override { return *c = static_cast<std::int32_t>(FErrors.size()), S_OK; }
  HRESULT get_Errors(std::int32_t i, ruvala::IEdiError** e) override {
    if (i < 0 || i >= static_cast<std::int32_t>(FErrors.size())) return E_INVALIDARG;
    *e = new TFakeError(FErrors[i]);
    return S_OK;
  }
  HRESULT get_InterApplication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_InterApplication(VARIANT_BOOL v) override {
    if (FLog) FLog->InterApps.push_back(v != 0);
    return S_OK;
  }
  HRESULT get_DbEvalVersion(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_DbRefVersion(BSTR*) override { return E_NOTIMPL; }
  HRESULT put_MessageDate(DATE d) override {
    if (FLog) FLog->Dates.push_back(d);
    return S_OK;
  }
  HRESULT ValidateEx(BSTR, BSTR*, std::int32_t*) override { return E_NOTIMPL; }
  HRESULT get_CheckFilter(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_CheckFilter(VARIANT_BOOL v) override {
    if (FLog) FLog->Filters.push_back(v != 0);
    return S_OK;
  }
  HRESULT get_WarningCount(std::int32_t* c) override { return *c = static_cast<std::int32_t>(FWarnings.size()), S_OK; }
  HRESULT get_Warnings(std::int32_t i, ruvala::IEdiWarning** w) override {
    if (i < 0 || i >= static_cast<std::int32_t>(FWarnings.size())) return E_INVALIDARG;
    *w = new TFakeWarning(FWarnings[i]);
    return S_OK;
  }
  HRESULT get_ErrorCodeList(BSTR* l) override { return *l = Alloc("\"E0001=Exception %s\",\"E0002=A, b\""), S_OK; }
  HRESULT get_WarningCodeList(BSTR* l) override { return *l = Alloc("W0001=Obsolete"), S_OK; }
  HRESULT get_ReferentialVersion(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_ReferentialFilename(BSTR* f) override { return *f = Alloc("/srv/ref/Referentiel.mdb"), S_OK; }

 private:
  TFakeLog* FLog;
  std::vector<TFakeFinding> FErrors, FWarnings;
};

class TFakeMessage final : public DispatchObject<TFakeMessage, kalvix::IEdiMessage> {
 public:
  static constexpr const IID& kInterfaceId = kalvix::IID_IEdiMessage;
  static const DispMember* DispTable(std::size_t& n) {
    n = 0;
    return nullptr;
  }
  explicit TFakeMessage(TFakeLog* log = nullptr) : FLog(log) {}
  HRESULT put_InputStream(BSTR t) override {
    if (FLog) FLog->InputStream = Utf16ToUtf8(std::u16string_view(t, SysStringLen(t)));
    return S_OK;
  }
  HRESULT get_ErrorCount(std::int32_t* c) override { return *c = 0, S_OK; }
  HRESULT get_Error(std::int32_t, BSTR*) override { return E_INVALIDARG; }
  HRESULT GetFirstSgmt(VARIANT*) override { return E_NOTIMPL; }
  HRESULT Reset() override { return E_NOTIMPL; }
  HRESULT get_QuestionMode(std::int32_t*) override { return E_NOTIMPL; }
  HRESULT put_QuestionMode(std::int32_t) override { return E_NOTIMPL; }
  HRESULT NewSegment(BSTR) override { return E_NOTIMPL; }
  HRESULT Insert(BSTR, BSTR, std::int32_t) override { return E_NOTIMPL; }
  HRESULT InsertInComponent(BSTR, BSTR, std::int32_t, BSTR, std::int32_t) override { return E_NOTIMPL; }
  HRESULT get_OutputStream(BSTR*) override { return E_NOTIMPL; }
  HRESULT FindFirstSgmt(BSTR, BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT NewMessage() override { return E_NOTIMPL; }
  HRESULT Generate(BSTR*) override { return E_NOTIMPL; }
  HRESULT PatchSegment(BSTR, std::int32_t, std::int32_t, std::int32_t*) override { return E_NOTIMPL; }

 private:
  TFakeLog* FLog;
};

ComPtr<ruvala::IEdiDocument> NewDocument(TFakeLog* log) {
  return ComPtr<ruvala::IEdiDocument>::Attach(new TFakeDocument(log));
}
ComPtr<kalvix::IEdiMessage> NewMessage(TFakeLog* log) {
  return ComPtr<kalvix::IEdiMessage>::Attach(new TFakeMessage(log));
}

template <class T>
static HRESULT Factory(const IID& iid, void** ppv) {
  auto* f = new ClassFactory<T>();
  HRESULT hr = f->QueryInterface(iid, ppv);
  f->Release();
  return hr;
}

HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid == ruvala::CLSID_EdiDocument) return Factory<TFakeDocument>(iid, ppv);
  if (clsid == kalvix::CLSID_EdiMessage) return Factory<TFakeMessage>(iid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace fake
