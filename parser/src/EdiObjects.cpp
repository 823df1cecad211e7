#include "EdiObjects.h"

#include <emmintrin.h>

#include <new>
#include <vector>

#include "Grammar.h"
#include "TextCodec.h"

namespace kalvix {

using namespace edicom;

namespace {

constexpr const char16_t* kMessageSource = u"Tarnholt.EdiMessage.1";
constexpr const char16_t* kSegmentSource = u"Tarnholt.EdiSegment.1";

// Text crosses the boundary as UTF-16 and lives in the 8-bit code page inside.
std::string In(BSTR s) {
  std::string out;
  if (s) common::Utf16ToAnsi(s, SysStringLen(s), out);
  return out;
}

// The text of InputStream, with room for the padding the tree adds: plain ASCII is copied
// sixteen or eight characters at a time, anything else goes through the code page, which lists
// in substituted the characters it lacks.
std::string InText(BSTR s, std::vector<common::Substitution>& substituted) {
  std::string out;
  if (!s) return out;
  std::size_t n = SysStringLen(s);
  out.reserve(n + kSourcePad + 1);
  out.resize(n);
  char* o = out.data();
  std::size_t i = 0, w = 0;
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80)), zero = _mm_setzero_si128();
  std::string one;
  while (i < n) {
    if (i + 16 <= n) {
      __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(v0, v1), high), zero)) == 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + w), _mm_packus_epi16(v0, v1));
        i += 16;
        w += 16;
        continue;
      }
    }
    if (i + 8 <= n) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), zero)) == 0xFFFF) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + w), _mm_packus_epi16(v, v));
        i += 8;
        w += 8;
        continue;
      }
    }
    char16_t c = s[i];
    if (c < 0x80) {
      o[w++] = static_cast<char>(c);
      ++i;
      continue;
    }
    std::size_t len = (c >= 0xD800 && c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) ? 2 : 1;
    std::size_t before = substituted.size();
    common::Utf16ToAnsi(s + i, len, one, &substituted);
    if (substituted.size() > before) substituted.back().offset = w;
    o[w++] = one[0];
    i += len;
  }
  out.resize(w);
  return out;
}

// A view of the tree as a result of the in-process shortcut.
HRESULT ViewOut(std::string_view v, const char** value, std::int32_t* length) {
  *value = v.empty() ? "" : v.data();
  *length = static_cast<std::int32_t>(v.size());
  return S_OK;
}

HRESULT Out(std::string_view s, BSTR* out) {
  std::u16string w;
  common::AnsiToUtf16(s.data(), s.size(), w);
  *out = SysAllocStringLen(w.data(), static_cast<unsigned>(w.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// What get_Empty, get_Rubrique and get_Qualifier give for a node, for the handle and the cursor alike.
bool NodeEmpty(const SegmentTree& t, const SegmentNode* n) {
  bool e = t.IsEmpty(n);
  if (e && !n->positional && t.Class(n) == 'R') e = t.DescendantsEmpty(n);
  return e;
}
bool NodeRubrique(const SegmentTree& t, const SegmentNode* n) { return !n->positional && t.Class(n) == 'R'; }
std::string_view NodeQualifier(const SegmentTree& t, const SegmentNode* n) {
  return n->positional ? std::string_view() : t.Qualifier(n);
}

}  // namespace

// ---- EdiMessage ----

EdiMessage::EdiMessage() : FWriter(std::make_unique<MessageWriter>()), FAnchor(new TreeAnchor) {
  FAnchor->tree = &FTree;
}

EdiMessage::~EdiMessage() {
  FAnchor->tree = nullptr;
  FAnchor->Release();
}

void EdiMessage::ResetTree() {
  FWriter = std::make_unique<MessageWriter>();
  FTree.Clear();
}

HRESULT EdiMessage::put_InputStream(BSTR text) {
  return GuardCall(kMessageSource, [&] {
    std::vector<common::Substitution> substituted;
    std::string s = InText(text, substituted);
    try {
      ParseInterchange(std::move(s), FTree, FErrors, /*cleanPath=*/true, substituted);
    } catch (const std::exception& e) {
      throw ComError(E_FAIL, std::string("Parse failed (") + e.what() + ")");
    }
    return S_OK;
  });
}

HRESULT EdiMessage::get_ErrorCount(std::int32_t* count) {
  if (!count) return E_POINTER;
  *count = FErrors.Count();
  return S_OK;
}

HRESULT EdiMessage::get_Error(std::int32_t errorId, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  if (errorId < 0 || errorId >= FErrors.Count()) return E_INVALIDARG;
  return Out(FErrors.At(errorId), text);
}

HRESULT EdiMessage::GetFirstSgmt(VARIANT* segment) {
  if (!segment) return E_POINTER;
  return EdiSegment::MakeVariant(FAnchor, FTree.First(), segment);
}

HRESULT EdiMessage::QueryInterface(REFIID riid, void** ppv) {
  if (ppv && riid == IID_IEdiSegmentCursor) {
    *ppv = static_cast<IEdiSegmentCursor*>(this);
    AddRef();
    return S_OK;
  }
  return DispatchObject::QueryInterface(riid, ppv);
}

HRESULT EdiMessage::MoveTo(SegmentNode* n) {
  FCursor = n;
  if (!n) return S_FALSE;
  if (n->level >= 0 && n->level < kCursorLevels) FLatest[n->level] = n;
  return S_OK;
}

HRESULT EdiMessage::MoveFirst() {
  FCursorGeneration = FTree.Generation();
  for (SegmentNode*& l : FLatest) l = nullptr;
  return MoveTo(FTree.First());
}

HRESULT EdiMessage::MoveNext() {
  SegmentNode* n = CursorNode();
  return MoveTo(n ? n->next : nullptr);
}

HRESULT EdiMessage::get_Segment(VARIANT* segment) {
  if (!segment) return E_POINTER;
  return EdiSegment::MakeVariant(FAnchor, CursorNode(), segment);
}

HRESULT EdiMessage::get_LatestAt(std::int32_t level, VARIANT* segment) {
  if (!segment) return E_POINTER;
  SegmentNode* n = CursorNode() && level >= 0 && level < kCursorLevels ? FLatest[level] : nullptr;
  return EdiSegment::MakeVariant(FAnchor, n, segment);
}

template <class F>
HRESULT EdiMessage::ReadCursor(std::int32_t* out, F read) {
  if (!out) return E_POINTER;
  SegmentNode* n = CursorNode();
  if (!n) return E_FAIL;
  *out = read(n);
  return S_OK;
}

HRESULT EdiMessage::get_Level(std::int32_t* level) {
  return ReadCursor(level, [](SegmentNode* n) { return n->level; });
}

HRESULT EdiMessage::get_Data(std::int32_t* data) {
  return ReadCursor(data, [](SegmentNode* n) { return n->data; });
}

HRESULT EdiMessage::put_Data(std::int32_t data) {
  SegmentNode* n = CursorNode();
  if (!n) return E_FAIL;
  n->data = data;
  return S_OK;
}

HRESULT EdiMessage::get_Empty(std::int32_t* empty) {
  return ReadCursor(empty, [&](SegmentNode* n) { return NodeEmpty(FTree, n) ? 1 : 0; });
}

HRESULT EdiMessage::get_Rubrique(std::int32_t* rubrique) {
  return ReadCursor(rubrique, [&](SegmentNode* n) { return NodeRubrique(FTree, n) ? 1 : 0; });
}

HRESULT EdiMessage::TagValue(const char** value, std::int32_t* length) {
  if (!value || !length) return E_POINTER;
  ViewOut({}, value, length);
  SegmentNode* n = CursorNode();
  return n ? ViewOut(FTree.Tag(n), value, length) : E_FAIL;
}

HRESULT EdiMessage::QualifierValue(const char** value, std::int32_t* length) {
  if (!value || !length) return E_POINTER;
  ViewOut({}, value, length);
  SegmentNode* n = CursorNode();
  return n ? ViewOut(NodeQualifier(FTree, n), value, length) : E_FAIL;
}

HRESULT EdiMessage::SlotOf(const char* cde, std::int32_t cdeLength, std::int32_t cdepos, const char* de,
                           std::int32_t deLength, std::int32_t depos, std::int32_t* slot) {
  if (!slot || cdeLength < 0 || deLength < 0 || (cdeLength > 0 && !cde) || (deLength > 0 && !de)) return E_POINTER;
  *slot = -1;
  SegmentNode* n = CursorNode();
  if (!n || n->positional) return E_FAIL;
  if (const SegmentLayout* lay = FTree.Layout(n))
    *slot = FindKey(*lay, std::string_view(cde, static_cast<std::size_t>(cdeLength)), cdeLength > 0 ? cdepos : 0,
                    std::string_view(de, static_cast<std::size_t>(deLength)), depos);
  return S_OK;
}

HRESULT EdiMessage::SlotValue(std::int32_t slot, const char** value, std::int32_t* length) {
  if (!value || !length) return E_POINTER;
  ViewOut({}, value, length);
  SegmentNode* n = CursorNode();
  if (!n || n->positional) return E_FAIL;
  return slot < 0 ? S_OK : ViewOut(FTree.Slot(n, slot), value, length);
}

HRESULT EdiMessage::Reset() {
  return GuardCall(kMessageSource, [&] {
    ResetTree();
    return S_OK;
  });
}

HRESULT EdiMessage::get_QuestionMode(std::int32_t* value) {
  if (!value) return E_POINTER;
  *value = FWriter->Question() ? 1 : 0;
  return S_OK;
}

HRESULT EdiMessage::put_QuestionMode(std::int32_t value) {
  FQuestionValue = value;
  FWriter->SetQuestion(value != 0);
  return S_OK;
}

HRESULT EdiMessage::NewSegment(BSTR tag) {
  return GuardCall(kMessageSource, [&] {
    FWriter->NewSegment(In(tag));
    return S_OK;
  });
}

HRESULT EdiMessage::Insert(BSTR value, BSTR de, std::int32_t depos) {
  return GuardCall(kMessageSource, [&] {
    FWriter->SetPendingValue("", 0, In(de), depos, In(value));
    return S_OK;
  });
}

HRESULT EdiMessage::InsertInComponent(BSTR value, BSTR cde, std::int32_t cdepos, BSTR de, std::int32_t depos) {
  return GuardCall(kMessageSource, [&] {
    FWriter->SetPendingValue(In(cde), cdepos, In(de), depos, In(value));
    return S_OK;
  });
}

HRESULT EdiMessage::get_OutputStream(BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  return GuardCall(kMessageSource, [&] { return Out(FWriter->Finish(), text); });
}

HRESULT EdiMessage::FindFirstSgmt(BSTR tag, BSTR qual, VARIANT* segment) {
  if (!segment) return E_POINTER;
  return GuardCall(kMessageSource, [&] {
    std::string t = In(tag), q = In(qual);
    SegmentNode* n = FTree.First();
    while (n && (n->positional || FTree.Tag(n) != t || (!q.empty() && FTree.Qualifier(n) != q))) n = n->next;
    return EdiSegment::MakeVariant(FAnchor, n, segment);
  });
}

HRESULT EdiMessage::NewMessage() {
  return GuardCall(kMessageSource, [&] {
    ResetTree();
    SegmentNode* xgh = FTree.NewSegment("XGH");
    FTree.SetValue(xgh, "", 0, "X926", 1, "1");
    FTree.Add(nullptr, xgh);
    return S_OK;
  });
}

HRESULT EdiMessage::Generate(BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  return GuardCall(kMessageSource, [&] {
    std::string out;
    try {
      out = GenerateTree(FTree, FQuestionValue != 0);
    } catch (const std::exception& e) {
      throw ComError(E_FAIL, std::string("Generate failed (") + e.what() + ")");
    }
    return Out(out, text);
  });
}

HRESULT EdiMessage::PatchSegment(BSTR tag, std::int32_t dataIndex, std::int32_t isData, std::int32_t* previous) {
  if (!previous) return E_POINTER;
  return GuardCall(kMessageSource, [&] {
    const Layouts& l = Layouts::Get();
    int idx = l.IndexOf(In(tag));
    if (idx < 0 || dataIndex < 0 || dataIndex >= l.At(idx).count)
      throw ComError(E_INVALIDARG, "PatchSegment: no such tag or key index");
    std::uint32_t bit = 1u << dataIndex;
    std::uint32_t old = isData ? l.Flags(idx).fetch_or(bit, std::memory_order_relaxed)
                               : l.Flags(idx).fetch_and(~bit, std::memory_order_relaxed);
    *previous = (old & bit) ? 1 : 0;
    return S_OK;
  });
}

namespace {

EdiMessage* M(void* s) { return static_cast<EdiMessage*>(s); }

template <class F>
HRESULT RetText(VARIANT* r, F&& f) {
  BSTR out = nullptr;
  HRESULT hr = f(&out);
  return FAILED(hr) ? hr : RetBstr(r, out);
}

const DispMember kMessageTable[] = {
    {u"InputStream",
     1,
     DISPATCH_PROPERTYPUT,
     1,
     {VT_BSTR},
     [](void* s, VARIANT* a, VARIANT*) { return M(s)->put_InputStream(a[0].bstrVal); }},
    {u"ErrorCount",
     2,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) {
       std::int32_t n = 0;
       HRESULT hr = M(s)->get_ErrorCount(&n);
       return FAILED(hr) ? hr : RetI4(r, n);
     }},
    {u"Error",
     3,
     DISPATCH_PROPERTYGET,
     1,
     {VT_I4},
     [](void* s, VARIANT* a, VARIANT* r) {
       return RetText(r, [&](BSTR* o) { return M(s)->get_Error(a[0].lVal, o); });
     }},
    {u"GetFirstSgmt", 4, DISPATCH_METHOD, 0, {}, [](void* s, VARIANT*, VARIANT* r) { return M(s)->GetFirstSgmt(r); }},
    {u"Reset", 5, DISPATCH_METHOD, 0, {}, [](void* s, VARIANT*, VARIANT*) { return M(s)->Reset(); }},
    {u"QuestionMode",
     6,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) {
       std::int32_t v = 0;
       HRESULT hr = M(s)->get_QuestionMode(&v);
       return FAILED(hr) ? hr : RetI4(r, v);
     }},
    {u"QuestionMode",
     6,
     DISPATCH_PROPERTYPUT,
     1,
     {VT_I4},
     [](void* s, VARIANT* a, VARIANT*) { return M(s)->put_QuestionMode(a[0].lVal); }},
    {u"NewSegment",
     7,
     DISPATCH_METHOD,
     1,
     {VT_BSTR},
     [](void* s, VARIANT* a, VARIANT*) { return M(s)->NewSegment(a[0].bstrVal); }},
    {u"Insert",
     8,
     DISPATCH_METHOD,
     3,
     {VT_BSTR, VT_BSTR, VT_I4},
     [](void* s, VARIANT* a, VARIANT*) { return M(s)->Insert(a[0].bstrVal, a[1].bstrVal, a[2].lVal); }},
    {u"InsertInComponent",
     9,
     DISPATCH_METHOD,
     5,
     {VT_BSTR, VT_BSTR, VT_I4, VT_BSTR, VT_I4},
     [](void* s, VARIANT* a, VARIANT*) {
       return M(s)->InsertInComponent(a[0].bstrVal, a[1].bstrVal, a[2].lVal, a[3].bstrVal, a[4].lVal);
     }},
    {u"OutputStream",
     10,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetText(r, [&](BSTR* o) { return M(s)->get_OutputStream(o); }); }},
    {u"FindFirstSgmt",
     11,
     DISPATCH_METHOD,
     2,
     {VT_BSTR, VT_BSTR},
     [](void* s, VARIANT* a, VARIANT* r) { return M(s)->FindFirstSgmt(a[0].bstrVal, a[1].bstrVal, r); }},
    {u"NewMessage", 12, DISPATCH_METHOD, 0, {}, [](void* s, VARIANT*, VARIANT*) { return M(s)->NewMessage(); }},
    {u"Generate",
     13,
     DISPATCH_METHOD,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetText(r, [&](BSTR* o) { return M(s)->Generate(o); }); }},
    {u"PatchSegment",
     14,
     DISPATCH_METHOD,
     3,
     {VT_BSTR, VT_I4, VT_I4},
     [](void* s, VARIANT* a, VARIANT* r) {
       std::int32_t prev = 0;
       HRESULT hr = M(s)->PatchSegment(a[0].bstrVal, a[1].lVal, a[2].lVal, &prev);
       return FAILED(hr) ? hr : RetI4(r, prev);
     }},
};

}  // namespace

const DispMember* EdiMessage::DispTable(std::size_t& count) {
  count = sizeof kMessageTable / sizeof kMessageTable[0];
  return kMessageTable;
}

// ---- EdiSegment ----

EdiSegment::EdiSegment(TreeAnchor* anchor, SegmentNode* node)
    : FAnchor(anchor), FNode(node), FGeneration(anchor->tree ? anchor->tree->Generation() : 0) {
  FAnchor->AddRef();
}

EdiSegment::~EdiSegment() {
  if (FAnchor) FAnchor->Release();
}

HRESULT EdiSegment::MakeVariant(TreeAnchor* anchor, SegmentNode* n, VARIANT* out) {
  if (!n) {
    out->vt = VT_NULL;
    return S_OK;
  }
  auto* h = new (std::nothrow) EdiSegment(anchor, n);
  if (!h) {
    out->vt = VT_NULL;
    return E_OUTOFMEMORY;
  }
  out->vt = VT_DISPATCH;
  out->pdispVal = static_cast<IEdiSegment*>(h);
  return S_OK;
}

SegmentNode* EdiSegment::Node() const {
  if (!FAnchor || !FAnchor->tree || FAnchor->tree->Generation() != FGeneration) return nullptr;
  return FNode;
}

// Runs f(tree, node) when the handle still refers to a node of a live tree; E_FAIL otherwise.
template <class F>
HRESULT EdiSegment::WithNode(F&& f) {
  SegmentNode* n = Node();
  if (!n) return E_FAIL;
  SegmentTree& t = *FAnchor->tree;
  return GuardCall(kSegmentSource, [&] { return f(t, n); });
}

HRESULT EdiSegment::get_Tag(BSTR* tag) {
  if (!tag) return E_POINTER;
  *tag = nullptr;
  return WithNode([&](SegmentTree& t, SegmentNode* n) { return Out(t.Tag(n), tag); });
}

HRESULT EdiSegment::Find(BSTR pDe, std::int32_t depos, BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    if (n->positional) return E_FAIL;
    return Out(t.GetValue(n, "", 0, In(pDe), depos), value);
  });
}

HRESULT EdiSegment::FindInComponent(BSTR pCde, std::int32_t cdepos, BSTR pDe, std::int32_t depos, BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    if (n->positional) return E_FAIL;
    return Out(t.GetValue(n, In(pCde), cdepos, In(pDe), depos), value);
  });
}

HRESULT EdiSegment::QueryInterface(REFIID riid, void** ppv) {
  if (ppv && riid == IID_IEdiSegmentValues) {
    *ppv = static_cast<IEdiSegmentValues*>(this);
    AddRef();
    return S_OK;
  }
  return DispatchObject::QueryInterface(riid, ppv);
}

HRESULT EdiSegment::FindValue(const char* cde, std::int32_t cdeLength, std::int32_t cdepos, const char* de,
                              std::int32_t deLength, std::int32_t depos, const char** value, std::int32_t* length) {
  if (!value || !length || cdeLength < 0 || deLength < 0 || (cdeLength > 0 && !cde) || (deLength > 0 && !de))
    return E_POINTER;
  // Reads only: nothing here throws. A failure leaves an empty view.
  ViewOut({}, value, length);
  SegmentNode* n = Node();
  if (!n || n->positional) return E_FAIL;
  return ViewOut(
      FAnchor->tree->GetValue(n, std::string_view(cde, static_cast<std::size_t>(cdeLength)), cdeLength > 0 ? cdepos : 0,
                              std::string_view(de, static_cast<std::size_t>(deLength)), depos),
      value, length);
}

HRESULT EdiSegment::TagValue(const char** value, std::int32_t* length) {
  if (!value || !length) return E_POINTER;
  ViewOut({}, value, length);
  SegmentNode* n = Node();
  return n ? ViewOut(FAnchor->tree->Tag(n), value, length) : E_FAIL;
}

HRESULT EdiSegment::QualifierValue(const char** value, std::int32_t* length) {
  if (!value || !length) return E_POINTER;
  ViewOut({}, value, length);
  SegmentNode* n = Node();
  if (!n) return E_FAIL;
  return ViewOut(NodeQualifier(*FAnchor->tree, n), value, length);
}

HRESULT EdiSegment::GetNextSgmt(VARIANT* segment) {
  if (!segment) return E_POINTER;
  return WithNode([&](SegmentTree&, SegmentNode* n) { return MakeVariant(FAnchor, n->next, segment); });
}

HRESULT EdiSegment::get_Level(std::int32_t* level) {
  if (!level) return E_POINTER;
  return WithNode([&](SegmentTree&, SegmentNode* n) {
    *level = n->level;
    return S_OK;
  });
}

HRESULT EdiSegment::get_Empty(std::int32_t* empty) {
  if (!empty) return E_POINTER;
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    *empty = NodeEmpty(t, n) ? 1 : 0;
    return S_OK;
  });
}

HRESULT EdiSegment::put_Empty(std::int32_t) {
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    if (n->positional)
      t.ClearText(n);
    else
      t.ClearValues(n);
    return S_OK;
  });
}

HRESULT EdiSegment::get_Rubrique(std::int32_t* rubrique) {
  if (!rubrique) return E_POINTER;
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    *rubrique = NodeRubrique(t, n) ? 1 : 0;
    return S_OK;
  });
}

HRESULT EdiSegment::get_IsPositionalData(std::int32_t* positional) {
  if (!positional) return E_POINTER;
  return WithNode([&](SegmentTree&, SegmentNode* n) {
    *positional = n->positional ? 1 : 0;
    return S_OK;
  });
}

HRESULT EdiSegment::get_PositionalData(BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    if (!n->positional) return E_FAIL;
    return Out(t.Text(n), text);
  });
}

HRESULT EdiSegment::GetPrevSgmt(VARIANT* segment) {
  if (!segment) return E_POINTER;
  return WithNode([&](SegmentTree&, SegmentNode* n) { return MakeVariant(FAnchor, n->prev, segment); });
}

HRESULT EdiSegment::GetFirstChild(VARIANT* segment) {
  if (!segment) return E_POINTER;
  return WithNode(
      [&](SegmentTree&, SegmentNode* n) { return MakeVariant(FAnchor, SegmentTree::FirstChild(n), segment); });
}

HRESULT EdiSegment::GetNextSibling(VARIANT* segment) {
  if (!segment) return E_POINTER;
  return WithNode(
      [&](SegmentTree&, SegmentNode* n) { return MakeVariant(FAnchor, SegmentTree::NextSibling(n), segment); });
}

HRESULT EdiSegment::get_Qualifier(BSTR* qualifier) {
  if (!qualifier) return E_POINTER;
  *qualifier = nullptr;
  return WithNode([&](SegmentTree& t, SegmentNode* n) { return Out(NodeQualifier(t, n), qualifier); });
}

HRESULT EdiSegment::put_Qualifier(BSTR qualifier) {
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    if (n->positional) return E_FAIL;
    t.SetQualifier(n, In(qualifier));
    return S_OK;
  });
}

HRESULT EdiSegment::get_Data(std::int32_t* data) {
  if (!data) return E_POINTER;
  return WithNode([&](SegmentTree&, SegmentNode* n) {
    *data = n->data;
    return S_OK;
  });
}

HRESULT EdiSegment::put_Data(std::int32_t data) {
  return WithNode([&](SegmentTree&, SegmentNode* n) {
    n->data = data;
    return S_OK;
  });
}

HRESULT EdiSegment::Insert(BSTR value, BSTR pDe, std::int32_t depos) {
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    if (n->positional) return E_FAIL;
    t.SetValue(n, "", 0, In(pDe), depos, In(value));
    return S_OK;
  });
}

HRESULT EdiSegment::InsertInComponent(BSTR value, BSTR pCde, std::int32_t cdepos, BSTR pDe, std::int32_t depos) {
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    if (n->positional) return E_FAIL;
    t.SetValue(n, In(pCde), cdepos, In(pDe), depos, In(value));
    return S_OK;
  });
}

HRESULT EdiSegment::AddChild(BSTR tag, VARIANT* segment) {
  if (!segment) return E_POINTER;
  segment->vt = VT_NULL;
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    SegmentNode* c = t.NewSegment(In(tag));
    t.Add(n, c);
    return MakeVariant(FAnchor, c, segment);
  });
}

HRESULT EdiSegment::AddSegment(BSTR tag, VARIANT* segment) {
  if (!segment) return E_POINTER;
  segment->vt = VT_NULL;
  return WithNode([&](SegmentTree& t, SegmentNode* n) {
    SegmentNode* c = t.NewSegment(In(tag));
    const char* failure = nullptr;
    if (!t.PlaceChild(n, c, &failure)) throw ComError(E_FAIL, failure);
    return MakeVariant(FAnchor, c, segment);
  });
}

HRESULT EdiSegment::get_Parent(VARIANT* segment) {
  if (!segment) return E_POINTER;
  return WithNode(
      [&](SegmentTree&, SegmentNode* n) { return MakeVariant(FAnchor, SegmentTree::PrecedingOtherLevel(n), segment); });
}

HRESULT EdiSegment::Delete() {
  return WithNode([&](SegmentTree&, SegmentNode* n) {
    n->deleted = true;
    return S_OK;
  });
}

namespace {

EdiSegment* S(void* s) { return static_cast<EdiSegment*>(s); }

template <class G>
HRESULT RetInt(VARIANT* r, G&& g) {
  std::int32_t v = 0;
  HRESULT hr = g(&v);
  return FAILED(hr) ? hr : RetI4(r, v);
}

const DispMember kSegmentTable[] = {
    {u"Tag",
     1,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetText(r, [&](BSTR* o) { return S(s)->get_Tag(o); }); }},
    {u"Find",
     2,
     DISPATCH_METHOD,
     2,
     {VT_BSTR, VT_I4},
     [](void* s, VARIANT* a, VARIANT* r) {
       return RetText(r, [&](BSTR* o) { return S(s)->Find(a[0].bstrVal, a[1].lVal, o); });
     }},
    {u"FindInComponent",
     3,
     DISPATCH_METHOD,
     4,
     {VT_BSTR, VT_I4, VT_BSTR, VT_I4},
     [](void* s, VARIANT* a, VARIANT* r) {
       return RetText(
           r, [&](BSTR* o) { return S(s)->FindInComponent(a[0].bstrVal, a[1].lVal, a[2].bstrVal, a[3].lVal, o); });
     }},
    {u"GetNextSgmt", 4, DISPATCH_METHOD, 0, {}, [](void* s, VARIANT*, VARIANT* r) { return S(s)->GetNextSgmt(r); }},
    {u"Level",
     5,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetInt(r, [&](std::int32_t* v) { return S(s)->get_Level(v); }); }},
    {u"Empty",
     6,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetInt(r, [&](std::int32_t* v) { return S(s)->get_Empty(v); }); }},
    {u"Empty",
     6,
     DISPATCH_PROPERTYPUT,
     1,
     {VT_I4},
     [](void* s, VARIANT* a, VARIANT*) { return S(s)->put_Empty(a[0].lVal); }},
    {u"Rubrique",
     7,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetInt(r, [&](std::int32_t* v) { return S(s)->get_Rubrique(v); }); }},
    {u"IsPositionalData",
     8,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) {
       return RetInt(r, [&](std::int32_t* v) { return S(s)->get_IsPositionalData(v); });
     }},
    {u"PositionalData",
     9,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetText(r, [&](BSTR* o) { return S(s)->get_PositionalData(o); }); }},
    {u"GetPrevSgmt", 10, DISPATCH_METHOD, 0, {}, [](void* s, VARIANT*, VARIANT* r) { return S(s)->GetPrevSgmt(r); }},
    {u"GetFirstChild",
     11,
     DISPATCH_METHOD,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return S(s)->GetFirstChild(r); }},
    {u"GetNextSibling",
     12,
     DISPATCH_METHOD,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return S(s)->GetNextSibling(r); }},
    {u"Qualifier",
     13,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetText(r, [&](BSTR* o) { return S(s)->get_Qualifier(o); }); }},
    {u"Qualifier",
     13,
     DISPATCH_PROPERTYPUT,
     1,
     {VT_BSTR},
     [](void* s, VARIANT* a, VARIANT*) { return S(s)->put_Qualifier(a[0].bstrVal); }},
    {u"Data",
     14,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) { return RetInt(r, [&](std::int32_t* v) { return S(s)->get_Data(v); }); }},
    {u"Data",
     14,
     DISPATCH_PROPERTYPUT,
     1,
     {VT_I4},
     [](void* s, VARIANT* a, VARIANT*) { return S(s)->put_Data(a[0].lVal); }},
    {u"Insert",
     15,
     DISPATCH_METHOD,
     3,
     {VT_BSTR, VT_BSTR, VT_I4},
     [](void* s, VARIANT* a, VARIANT*) { return S(s)->Insert(a[0].bstrVal, a[1].bstrVal, a[2].lVal); }},
    {u"InsertInComponent",
     16,
     DISPATCH_METHOD,
     5,
     {VT_BSTR, VT_BSTR, VT_I4, VT_BSTR, VT_I4},
     [](void* s, VARIANT* a, VARIANT*) {
       return S(s)->InsertInComponent(a[0].bstrVal, a[1].bstrVal, a[2].lVal, a[3].bstrVal, a[4].lVal);
     }},
    {u"AddChild",
     17,
     DISPATCH_METHOD,
     1,
     {VT_BSTR},
     [](void* s, VARIANT* a, VARIANT* r) { return S(s)->AddChild(a[0].bstrVal, r); }},
    {u"AddSegment",
     18,
     DISPATCH_METHOD,
     1,
     {VT_BSTR},
     [](void* s, VARIANT* a, VARIANT* r) { return S(s)->AddSegment(a[0].bstrVal, r); }},
    {u"Parent", 19, DISPATCH_PROPERTYGET, 0, {}, [](void* s, VARIANT*, VARIANT* r) { return S(s)->get_Parent(r); }},
    {u"Delete", 20, DISPATCH_METHOD, 0, {}, [](void* s, VARIANT*, VARIANT*) { return S(s)->Delete(); }},
};

}  // namespace

const DispMember* EdiSegment::DispTable(std::size_t& count) {
  count = sizeof kSegmentTable / sizeof kSegmentTable[0];
  return kSegmentTable;
}

}  // namespace kalvix
