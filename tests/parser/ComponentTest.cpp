// libkalvix.so as its clients see it: registered into temporary hives, created by class id,
// walked through segment handles and called by name through IDispatch.
#include <dlfcn.h>
#include <edicom/EdiComCpp.h>
#include <gtest/gtest.h>
#include <kalvix/Kalvix.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Registry.h"
#include "TempHives.h"

using namespace edicom;
using namespace kalvix;

namespace {

const char* kText =
    "XGH+1+0039+104512+002'XEH+05+1+0060+1++11'GIS+A001+6'DTM+008:20032025:001'RFF+003:CL-58-2025-1234'"
    "XRH+1'PTY+003+CLI1'NME+001+DUPONT:JEAN'XRT+1'XET+05'XGT+1'";

class Component : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KALVIX_ERROR_ECHO", "0", 1);
    FHives = std::make_unique<TempHives>();
    CoInitialize(nullptr);
    FLib = dlopen(KALVIX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(FLib, nullptr) << dlerror();
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(FLib, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK) << TakeErrorDescription();
    ASSERT_EQ(CreateInstance(CLSID_EdiMessage, IID_IEdiMessage, FMsg), S_OK);
  }
  void TearDown() override {
    FMsg.Reset();
    CoUninitialize();
    if (FLib) dlclose(FLib);
    FHives.reset();
  }
  void Parse(const char* text) { ASSERT_EQ(FMsg->put_InputStream(BStr(text).Get()), S_OK); }
  static ComPtr<IEdiSegment> Seg(Variant& v) {
    ComPtr<IEdiSegment> s;
    if (v.vt == VT_DISPATCH && v.pdispVal) v.pdispVal->QueryInterface(IID_IEdiSegment, s.PutVoid());
    return s;
  }
  static std::string Tag(const ComPtr<IEdiSegment>& s) {
    BStr t;
    EXPECT_EQ(s->get_Tag(t.Put()), S_OK);
    return t.Utf8();
  }

  std::unique_ptr<TempHives> FHives;
  void* FLib = nullptr;
  ComPtr<IEdiMessage> FMsg;
};

TEST_F(Component, WalksTheTreeThroughHandles) {
  Parse(kText);
  std::int32_t n = -1;
  ASSERT_EQ(FMsg->get_ErrorCount(&n), S_OK);
  EXPECT_EQ(n, 0);
  Variant v;
  ASSERT_EQ(FMsg->GetFirstSgmt(&v), S_OK);
  ComPtr<IEdiSegment> s = Seg(v);
  ASSERT_TRUE(s);
  std::string walk;
  std::vector<int> levels;
  while (s) {
    walk += Tag(s) + " ";
    std::int32_t level = -1;
    s->get_Level(&level);
    levels.push_back(level);
    Variant next;
    ASSERT_EQ(s->GetNextSgmt(&next), S_OK);
    s = Seg(next);
    if (!s) {
      EXPECT_EQ(next.vt, VT_NULL);
    }
  }
  EXPECT_EQ(walk, "XGH XEH GIS DTM RFF PTY NME XET XGT ");
  EXPECT_EQ(levels, (std::vector<int>{0, 1, 2, 2, 2, 2, 3, 1, 0}));

  Variant pty;
  ASSERT_EQ(FMsg->FindFirstSgmt(BStr("PTY").Get(), BStr("").Get(), &pty), S_OK);
  ComPtr<IEdiSegment> p = Seg(pty);
  ASSERT_TRUE(p);
  std::int32_t flag = -1;
  p->get_Rubrique(&flag);
  EXPECT_EQ(flag, 1);
  BStr val;
  ASSERT_EQ(p->FindInComponent(BStr("C060").Get(), 1, BStr("X044").Get(), 1, val.Put()), S_OK);
  EXPECT_EQ(val.Utf8(), "CLI1");
  Variant child;
  ASSERT_EQ(p->GetFirstChild(&child), S_OK);
  ComPtr<IEdiSegment> nme = Seg(child);
  ASSERT_TRUE(nme);
  EXPECT_EQ(Tag(nme), "NME");
  ASSERT_EQ(nme->FindInComponent(BStr("C040").Get(), 1, BStr("X035").Get(), 1, val.Put()), S_OK);
  EXPECT_EQ(val.Utf8(), "JEAN");

  Variant none;
  ASSERT_EQ(FMsg->FindFirstSgmt(BStr("DTM").Get(), BStr("137").Get(), &none), S_OK);
  EXPECT_EQ(none.vt, VT_NULL);
}

TEST_F(Component, ErrorIndexOutsideTheListFails) {
  Parse("XGH+1+0039+104512+002'XEH+90+1+0201+1++10'BIN+A+B+C'XET+90'");
  std::int32_t n = 0;
  FMsg->get_ErrorCount(&n);
  ASSERT_EQ(n, 2);
  BStr e;
  EXPECT_EQ(FMsg->get_Error(0, e.Put()), S_OK);
  EXPECT_EQ(e.Utf8(), "line 1: syntax error at \"+\" missing SGMT_END");
  EXPECT_EQ(FMsg->get_Error(1, e.Put()), S_OK);
  EXPECT_EQ(e.Utf8(), "line 1: syntax error at \"<eof>\" missing TAG_XGT");
  for (std::int32_t bad : {2, -1, 1000}) {
    BStr none;
    EXPECT_EQ(FMsg->get_Error(bad, none.Put()), E_INVALIDARG) << bad;
    EXPECT_EQ(none.Get(), nullptr);
  }
  Parse(kText);
  FMsg->get_ErrorCount(&n);
  EXPECT_EQ(n, 0);
}

TEST_F(Component, EmptyTreesGiveNullVariants) {
  Variant v;
  ASSERT_EQ(FMsg->GetFirstSgmt(&v), S_OK);
  EXPECT_EQ(v.vt, VT_NULL);
  Parse("ADR+1'");
  Variant w;
  ASSERT_EQ(FMsg->GetFirstSgmt(&w), S_OK);
  EXPECT_EQ(w.vt, VT_NULL);
}

TEST_F(Component, StaleHandlesFailInsteadOfReadingFreedNodes) {
  Parse(kText);
  Variant v;
  FMsg->GetFirstSgmt(&v);
  ComPtr<IEdiSegment> s = Seg(v);
  ASSERT_TRUE(s);
  ASSERT_EQ(FMsg->Reset(), S_OK);
  BStr tag;
  EXPECT_EQ(s->get_Tag(tag.Put()), E_FAIL);
  Variant next;
  EXPECT_EQ(s->GetNextSgmt(&next), E_FAIL);

  Parse(kText);
  Variant w;
  FMsg->GetFirstSgmt(&w);
  ComPtr<IEdiSegment> t = Seg(w);
  Parse(kText);  // a new text replaces the tree
  std::int32_t level = 0;
  EXPECT_EQ(t->get_Level(&level), E_FAIL);
  Variant x;
  FMsg->GetFirstSgmt(&x);
  ComPtr<IEdiSegment> u = Seg(x);
  FMsg.Reset();  // the message goes away, the handle stays
  EXPECT_EQ(u->get_Level(&level), E_FAIL);
}

TEST_F(Component, RegistersBothClassesAndTheTypeLibrary) {
  const std::string libid = "{38E9147D-67ED-11D2-8513-00C04FB15DA9}";
  struct {
    const char *clsid, *description, *progId, *independent;
  } classes[] = {
      {"{73E5753F-6727-11D2-8513-00C04FB15DA9}", "EdiMessage Class", "Tarnholt.EdiMessage.1", "Tarnholt.EdiMessage"},
      {"{73E57541-6727-11D2-8513-00C04FB15DA9}", "EdiSegment Class", "Tarnholt.EdiSegment.1", "Tarnholt.EdiSegment"},
  };
  common::TRegistry reg(common::HKEY_CLASSES_ROOT);
  for (const auto& c : classes) {
    const std::string base = std::string("CLSID\\") + c.clsid;
    ASSERT_TRUE(reg.OpenKeyReadOnly(base)) << base;
    EXPECT_EQ(reg.ReadString(""), c.description);
    ASSERT_TRUE(reg.OpenKeyReadOnly(base + "\\InprocServer32"));
    EXPECT_EQ(reg.ReadString("ThreadingModel"), "Apartment");
    // The soname link, which an update to the next libkalvix.so.1.x.y keeps, not the file loaded.
    const std::string loaded = KALVIX_LIBRARY;
    EXPECT_EQ(reg.ReadString(""), loaded.substr(0, loaded.rfind('/') + 1) + KALVIX_SONAME);
    ASSERT_TRUE(reg.OpenKeyReadOnly(base + "\\ProgID"));
    EXPECT_EQ(reg.ReadString(""), c.progId);
    ASSERT_TRUE(reg.OpenKeyReadOnly(base + "\\VersionIndependentProgID"));
    EXPECT_EQ(reg.ReadString(""), c.independent);
    ASSERT_TRUE(reg.OpenKeyReadOnly(base + "\\TypeLib"));
    EXPECT_EQ(reg.ReadString(""), libid);
    CLSID byName{};
    ASSERT_EQ(CLSIDFromProgID(Utf8ToUtf16(c.independent).c_str(), &byName), S_OK);
    EXPECT_EQ(GuidToString(byName), c.clsid);
  }
  ASSERT_TRUE(reg.OpenKeyReadOnly("TypeLib\\" + libid + "\\1.0"));
  EXPECT_EQ(reg.ReadString(""), "Ombra Edifact Parser/Generator");
  EXPECT_EQ(reg.ReadString("Name"), "KalvixLib");
  reg.CloseKey();

  auto unreg = reinterpret_cast<HRESULT (*)()>(dlsym(FLib, "DllUnregisterServer"));
  ASSERT_NE(unreg, nullptr);
  ASSERT_EQ(unreg(), S_OK);
  CLSID gone{};
  EXPECT_EQ(CLSIDFromProgID(u"Tarnholt.EdiMessage.1", &gone), CO_E_CLASSSTRING);
  EXPECT_FALSE(reg.KeyExists("TypeLib\\" + libid));
}

TEST_F(Component, SegmentCreatedByClassIdRefersToNoNode) {
  ComPtr<IEdiSegment> s;
  ASSERT_EQ(CreateInstance(CLSID_EdiSegment, IID_IEdiSegment, s), S_OK);
  BStr tag;
  EXPECT_EQ(s->get_Tag(tag.Put()), E_FAIL);
  CLSID byProgId{};
  ASSERT_EQ(CLSIDFromProgID(u"Tarnholt.EdiMessage.1", &byProgId), S_OK);
  EXPECT_TRUE(byProgId == CLSID_EdiMessage);
}

TEST_F(Component, LateBoundCallsByName) {
  ComPtr<IDispatch> d;
  ASSERT_EQ(FMsg->QueryInterface(IID_IDispatch, d.PutVoid()), S_OK);
  auto id = [&](const char16_t* name) {
    DISPID i = DISPID_UNKNOWN;
    LPCOLESTR names[] = {name};
    EXPECT_EQ(d->GetIDsOfNames(IID_IUnknown, names, 1, 0, &i), S_OK) << Utf16ToUtf8(name);
    return i;
  };
  EXPECT_EQ(id(u"InputStream"), 1);
  EXPECT_EQ(id(u"generate"), 13);
  EXPECT_EQ(id(u"PatchSegment"), 14);

  // InputStream = text (property put)
  Variant text = Variant::Str(u"XGH+1+0039+104512+002'XEH+90+1+0201+1++10'BIN+A+B+C'XET+90'XGT+1'");
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS put{&text, &putId, 1, 1};
  ASSERT_EQ(d->Invoke(id(u"InputStream"), IID_IUnknown, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
            S_OK);
  Variant count;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(d->Invoke(id(u"ErrorCount"), IID_IUnknown, 0, DISPATCH_PROPERTYGET, &none, &count, nullptr, nullptr), S_OK);
  EXPECT_EQ(count.vt, VT_I4);
  EXPECT_EQ(count.lVal, 1);
  Variant index = Variant::Int(0);
  DISPPARAMS one{&index, nullptr, 1, 0};
  Variant msg;
  ASSERT_EQ(d->Invoke(id(u"Error"), IID_IUnknown, 0, DISPATCH_PROPERTYGET, &one, &msg, nullptr, nullptr), S_OK);
  ASSERT_EQ(msg.vt, VT_BSTR);
  EXPECT_EQ(BStr(std::u16string_view(msg.bstrVal, SysStringLen(msg.bstrVal))).Utf8(),
            "line 1: syntax error at \"+\" missing SGMT_END");
  Variant bad = Variant::Int(5);
  DISPPARAMS oneBad{&bad, nullptr, 1, 0};
  Variant nothing;
  EXPECT_EQ(d->Invoke(id(u"Error"), IID_IUnknown, 0, DISPATCH_PROPERTYGET, &oneBad, &nothing, nullptr, nullptr),
            E_INVALIDARG);

  // FindFirstSgmt("XEH", "") and a member of the segment by name.
  Variant args[2] = {Variant::Str(u""), Variant::Str(u"XEH")};  // reverse order
  DISPPARAMS two{args, nullptr, 2, 0};
  Variant seg;
  ASSERT_EQ(d->Invoke(id(u"FindFirstSgmt"), IID_IUnknown, 0, DISPATCH_METHOD, &two, &seg, nullptr, nullptr), S_OK);
  ASSERT_EQ(seg.vt, VT_DISPATCH);
  DISPID findId = DISPID_UNKNOWN;
  LPCOLESTR findName[] = {u"Find"};
  ASSERT_EQ(seg.pdispVal->GetIDsOfNames(IID_IUnknown, findName, 1, 0, &findId), S_OK);
  EXPECT_EQ(findId, 2);
  Variant fargs[2] = {Variant::Int(1), Variant::Str(u"X910")};
  DISPPARAMS fp{fargs, nullptr, 2, 0};
  Variant code;
  ASSERT_EQ(seg.pdispVal->Invoke(findId, IID_IUnknown, 0, DISPATCH_METHOD, &fp, &code, nullptr, nullptr), S_OK);
  ASSERT_EQ(code.vt, VT_BSTR);
  EXPECT_EQ(BStr(std::u16string_view(code.bstrVal, SysStringLen(code.bstrVal))).Utf8(), "90");

  // Generate through the table of names.
  Variant out;
  ASSERT_EQ(d->Invoke(id(u"Generate"), IID_IUnknown, 0, DISPATCH_METHOD, &none, &out, nullptr, nullptr), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(BStr(std::u16string_view(out.bstrVal, SysStringLen(out.bstrVal))).Utf8(),
            "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'XET+90'XGT+1'");
}

TEST_F(Component, TextCrossesAsUtf16AndLivesInWindows1252) {
  Parse("XGH+1+0039+104512+002'XEH+90+1+0201+1++10'ATT+A201+CAF\xC3\x89 \xE2\x82\xAC'XET+90'XGT+1'");
  Variant v;
  ASSERT_EQ(FMsg->FindFirstSgmt(BStr("ATT").Get(), BStr("A201").Get(), &v), S_OK);
  ComPtr<IEdiSegment> att = Seg(v);
  ASSERT_TRUE(att);
  BStr val;
  ASSERT_EQ(att->FindInComponent(BStr("C005").Get(), 1, BStr("X011").Get(), 1, val.Put()), S_OK);
  EXPECT_EQ(val.Utf8(), "CAF\xC3\x89 \xE2\x82\xAC");
  // A character the code page lacks becomes the SUB control on the way in, never "?", which
  // the writer would turn into a released "??".
  ASSERT_EQ(att->InsertInComponent(BStr("\xE4\xB8\xAD").Get(), BStr("C005").Get(), 1, BStr("X011").Get(), 1), S_OK);
  ASSERT_EQ(att->FindInComponent(BStr("C005").Get(), 1, BStr("X011").Get(), 1, val.Put()), S_OK);
  EXPECT_EQ(val.Utf8(), "\x1A");
}

// A character the code page lacks must not change how the text parses: the tree is the one of
// the same text with the SUB byte in its place, and each such character is named once in the
// error list, with its line.
TEST_F(Component, CharactersOutsideTheCodePageKeepTheParseAndAreNamed) {
  auto errors = [&] {
    std::vector<std::string> v;
    std::int32_t n = 0;
    FMsg->get_ErrorCount(&n);
    for (std::int32_t i = 0; i < n; ++i) {
      BStr e;
      FMsg->get_Error(i, e.Put());
      v.push_back(e.Utf8());
    }
    return v;
  };
  auto generated = [&] {
    BStr out;
    EXPECT_EQ(FMsg->Generate(out.Put()), S_OK);
    return out.Utf8();
  };
  auto named = [](const char* cp, int line) {
    return "character outside windows-1252 near line " + std::to_string(line) + " (text was '" + cp + "')";
  };
  const std::string xgh = "XGH+1+0039+104512+002'XEH+05+1+0060+1++11'";
  const std::string rest = "XRH+1'PTY+003+CLI1'NME+001+DUPONT:JEAN'XRT+1'XET+05'XGT+1'";
  const std::string sub = "\x1A";
  struct Case {
    const char* name;
    std::string text;  // "#" marks where the character goes
    const char* utf8;
    const char* cp;
    int line;
    bool wellFormed;  // the text with the SUB byte has no syntax error
  } const cases[] = {
      // "?" there released the terminator, "?:" the separator: the segments after it were lost.
      {"value before the terminator", xgh + "GIS+A001+6'DTM+008:20032025:001'FTX+001+end#'" + rest, "\xCE\xA9",
       "U+03A9", 1, true},
      {"qualifier", xgh + "GIS+A001+6'DTM+008#:20032025:001'" + rest, "\xE4\xB8\xAD", "U+4E2D", 1, true},
      {"surrogate pair", xgh + "GIS+A001+6'DTM+008:2003#:001'" + rest, "\xF0\x9F\x98\x80", "U+1F600", 1, true},
      {"third line", xgh + "\r\nGIS+A001+6'\r\nDTM+008:20032025:001'FTX+001+DU#PONT'" + rest, "\xCE\xA9", "U+03A9", 3,
       true},
      {"tag", xgh + "GI#S+A001+6'DTM+008:20032025:001'" + rest, "\xCE\xA9", "U+03A9", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string withChar = c.text, withSub = c.text;
    withChar.replace(withChar.find('#'), 1, c.utf8);
    withSub.replace(withSub.find('#'), 1, sub);
    Parse(withSub.c_str());
    std::vector<std::string> expected = errors();
    const std::string tree = generated();
    EXPECT_EQ(expected.empty(), c.wellFormed);
    Parse(withChar.c_str());
    EXPECT_EQ(generated(), tree);
    std::vector<std::string> got = errors();
    auto it = std::find(got.begin(), got.end(), named(c.cp, c.line));
    ASSERT_NE(it, got.end());
    got.erase(it);
    EXPECT_EQ(got, expected);
  }

  // Two characters, two messages in text order; the message object still walks every segment.
  Parse((xgh + "GIS+A001+6'FTX+001+\xCE\xA9\xF0\x9F\x98\x80'" + rest).c_str());
  EXPECT_EQ(errors(), (std::vector<std::string>{named("U+03A9", 1), named("U+1F600", 1)}));
  Variant v;
  ASSERT_EQ(FMsg->FindFirstSgmt(BStr("FTX").Get(), BStr("001").Get(), &v), S_OK);
  ComPtr<IEdiSegment> ftx = Seg(v);
  ASSERT_TRUE(ftx);
  Variant nme;
  ASSERT_EQ(FMsg->FindFirstSgmt(BStr("NME").Get(), BStr("001").Get(), &nme), S_OK);
  EXPECT_TRUE(Seg(nme));

  // As an argument: a qualifier with a lacked character matches no segment whose value holds
  // a "?" in that place.
  Parse((xgh + "GIS+A001+6'DTM+008??:20032025:001'" + rest).c_str());
  Variant dtm;
  ASSERT_EQ(FMsg->FindFirstSgmt(BStr("DTM").Get(), BStr("008?").Get(), &dtm), S_OK);
  ASSERT_TRUE(Seg(dtm));
  dtm.Clear();
  ASSERT_EQ(FMsg->FindFirstSgmt(BStr("DTM").Get(), BStr("008\xCE\xA9").Get(), &dtm), S_OK);
  EXPECT_EQ(dtm.vt, VT_NULL);
}

// The in-process shortcut reads what Find and FindInComponent read, as 8-bit text, and fails
// where they fail.
TEST_F(Component, ValueShortcutReadsWhatThePublishedMembersRead) {
  const char* texts[] = {kText, "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'ATT+A201+CAF\xC3\x89'XET+90'XGT+1'"};
  struct Read {
    int text;
    const char* tag;
    const char* cde;
    int cdePos;
    const char* de;
    int dePos;
    const char* expected;  // as 8-bit text; the published members give it in UTF-16
  } const reads[] = {
      {1, "ATT", "C005", 1, "X011", 1, "CAF\xC9"},
      {0, "RFF", "C070", 1, "X051", 1, "CL-58-2025-1234"},
      {0, "PTY", "C060", 1, "X044", 1, "CLI1"},
      {0, "NME", "C040", 1, "X035", 1, "JEAN"},
      {0, "NME", "C040", 2, "X035", 1, ""},
      {0, "XEH", "", 0, "X912", 1, "0060"},
      {0, "XEH", "", 0, "X999", 1, ""},
      {0, "XEH", "C0123456789", 1, "X912", 1, ""},
  };
  auto widened = [](const std::string& latin) {
    std::u16string w;
    for (char c : latin) w.push_back(static_cast<unsigned char>(c));  // these values lie in Latin-1
    return w;
  };
  for (const Read& r : reads) {
    SCOPED_TRACE(std::string(r.tag) + " " + r.cde + " " + r.de);
    Parse(texts[r.text]);
    Variant v;
    ASSERT_EQ(FMsg->FindFirstSgmt(BStr(r.tag).Get(), BStr("").Get(), &v), S_OK);
    ComPtr<IEdiSegment> s = Seg(v);
    ASSERT_TRUE(s);
    ComPtr<IEdiSegmentValues> fast;
    ASSERT_EQ(s->QueryInterface(IID_IEdiSegmentValues, fast.PutVoid()), S_OK);
    BStr published;
    if (*r.cde)
      ASSERT_EQ(s->FindInComponent(BStr(r.cde).Get(), r.cdePos, BStr(r.de).Get(), r.dePos, published.Put()), S_OK);
    else
      ASSERT_EQ(s->Find(BStr(r.de).Get(), r.dePos, published.Put()), S_OK);
    const char* p = nullptr;
    std::int32_t n = -1;
    ASSERT_EQ(fast->FindValue(r.cde, static_cast<std::int32_t>(std::strlen(r.cde)), r.cdePos, r.de,
                              static_cast<std::int32_t>(std::strlen(r.de)), r.dePos, &p, &n),
              S_OK);
    EXPECT_EQ(std::string(p, static_cast<std::size_t>(n)), r.expected);
    EXPECT_EQ(std::u16string(published.View()), widened(r.expected));

    BStr tag, qualifier;
    ASSERT_EQ(s->get_Tag(tag.Put()), S_OK);
    ASSERT_EQ(s->get_Qualifier(qualifier.Put()), S_OK);
    ASSERT_EQ(fast->TagValue(&p, &n), S_OK);
    EXPECT_EQ(std::string(p, static_cast<std::size_t>(n)), tag.Utf8());
    ASSERT_EQ(fast->QualifierValue(&p, &n), S_OK);
    EXPECT_EQ(std::u16string(qualifier.View()), widened(std::string(p, static_cast<std::size_t>(n))));

    // The cursor on the same segment reads the same by slot.
    ComPtr<IEdiSegmentCursor> cursor;
    ASSERT_EQ(FMsg->QueryInterface(IID_IEdiSegmentCursor, cursor.PutVoid()), S_OK);
    for (HRESULT hr = cursor->MoveFirst(); hr == S_OK; hr = cursor->MoveNext()) {
      ASSERT_EQ(cursor->TagValue(&p, &n), S_OK);
      if (std::string(p, static_cast<std::size_t>(n)) == r.tag) break;
    }
    std::int32_t slot = -5;
    ASSERT_EQ(cursor->SlotOf(r.cde, static_cast<std::int32_t>(std::strlen(r.cde)), r.cdePos, r.de,
                             static_cast<std::int32_t>(std::strlen(r.de)), r.dePos, &slot),
              S_OK);
    ASSERT_EQ(cursor->SlotValue(slot, &p, &n), S_OK);
    EXPECT_EQ(std::string(p, static_cast<std::size_t>(n)), r.expected);
  }
  // A replaced tree fails the handle, through either interface.
  Parse(kText);
  Variant v;
  ASSERT_EQ(FMsg->GetFirstSgmt(&v), S_OK);
  ComPtr<IEdiSegmentValues> fast;
  ASSERT_EQ(Seg(v)->QueryInterface(IID_IEdiSegmentValues, fast.PutVoid()), S_OK);
  ComPtr<IEdiSegment> back;
  ASSERT_EQ(fast->QueryInterface(IID_IEdiSegment, back.PutVoid()), S_OK);
  Parse(kText);
  const char* p = nullptr;
  std::int32_t n = 0;
  EXPECT_EQ(fast->FindValue("", 0, 0, "X910", 4, 1, &p, &n), E_FAIL);
  EXPECT_EQ(fast->TagValue(&p, &n), E_FAIL);
  EXPECT_EQ(fast->QualifierValue(&p, &n), E_FAIL);
  EXPECT_EQ(fast->FindValue("", 0, 0, "X910", 4, 1, nullptr, &n), E_POINTER);
}

// Every sample line and every kept fuzz input, walked by handles and by the cursor side by side.
TEST_F(Component, CursorWalksAsTheHandlesDo) {
  std::vector<std::string> texts{kText};
  for (const char* file : {"valid.txt", "with-findings.txt", "multi-message.txt", "syntax-errors.txt"}) {
    std::ifstream in(std::string(EDI_SHARED_DIR) + "/samples/" + file);
    for (std::string line; std::getline(in, line);) texts.push_back(line);
  }
  const bool samples = texts.size() > 1;
  for (const auto& e :
       std::filesystem::directory_iterator(std::filesystem::path(EDI_SOURCE_DIR) / "fuzz/corpus/validate")) {
    std::ifstream in(e.path(), std::ios::binary);
    texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ComPtr<IEdiSegmentCursor> cursor;
  ASSERT_EQ(FMsg->QueryInterface(IID_IEdiSegmentCursor, cursor.PutVoid()), S_OK);
  auto text = [](IEdiSegmentCursor* c, HRESULT (IEdiSegmentCursor::*m)(const char**, std::int32_t*)) {
    const char* p = nullptr;
    std::int32_t n = 0;
    EXPECT_EQ((c->*m)(&p, &n), S_OK);
    return std::string(p, static_cast<std::size_t>(n));
  };
  int segments = 0;
  for (std::size_t t = 0; t < texts.size(); ++t) {
    SCOPED_TRACE("text " + std::to_string(t));
    FMsg->put_InputStream(BStr(std::string_view(texts[t])).Get());  // syntax errors keep what parsed
    Variant first;
    ASSERT_EQ(FMsg->GetFirstSgmt(&first), S_OK);
    ComPtr<IEdiSegment> s = Seg(first);
    std::int32_t latest[32] = {};  // number of the latest segment of each level
    std::int32_t no = 0;
    HRESULT moved = cursor->MoveFirst();
    for (; s; ++segments) {
      ASSERT_EQ(moved, S_OK) << "the cursor ended before segment " << no + 1;
      ++no;
      ASSERT_EQ(cursor->put_Data(no), S_OK);
      std::int32_t a = 0, b = -1;
      ASSERT_EQ(s->get_Data(&a), S_OK);
      EXPECT_EQ(a, no);
      EXPECT_EQ(text(cursor.Get(), &IEdiSegmentCursor::TagValue), Tag(s));
      for (auto get : {&IEdiSegment::get_Level, &IEdiSegment::get_Empty, &IEdiSegment::get_Rubrique}) {
        auto mine = get == &IEdiSegment::get_Level   ? &IEdiSegmentCursor::get_Level
                    : get == &IEdiSegment::get_Empty ? &IEdiSegmentCursor::get_Empty
                                                     : &IEdiSegmentCursor::get_Rubrique;
        ASSERT_EQ((s.Get()->*get)(&a), S_OK);
        ASSERT_EQ((cursor.Get()->*mine)(&b), S_OK);
        EXPECT_EQ(a, b);
      }
      std::int32_t positional = 0, level = 0;
      s->get_IsPositionalData(&positional);
      s->get_Level(&level);
      if (level >= 0 && level < 32) latest[level] = no;
      if (!positional) {
        BStr q;
        ASSERT_EQ(s->get_Qualifier(q.Put()), S_OK);
        EXPECT_EQ(BStr(text(cursor.Get(), &IEdiSegmentCursor::QualifierValue)).Utf8(), q.Utf8());
      } else {
        std::int32_t slot = 0;
        EXPECT_EQ(cursor->SlotOf("", 0, 0, "X001", 4, 1, &slot), E_FAIL);
      }
      for (int l = 0; l < 32; ++l) {
        Variant v;
        ASSERT_EQ(cursor->get_LatestAt(l, &v), S_OK);
        ComPtr<IEdiSegment> at = Seg(v);
        ASSERT_EQ(static_cast<bool>(at), latest[l] != 0) << "level " << l;
        if (at) {
          ASSERT_EQ(at->get_Data(&a), S_OK);
          EXPECT_EQ(a, latest[l]);
        }
      }
      Variant next;
      ASSERT_EQ(s->GetNextSgmt(&next), S_OK);
      s = Seg(next);
      moved = cursor->MoveNext();
    }
    EXPECT_EQ(moved, S_FALSE) << "the cursor goes on after the last segment";
  }
  if (samples) {
    EXPECT_GT(segments, 1000);
  }

  // A tree emptied under the cursor ends its walk; nothing of the old tree is read.
  Parse(kText);
  ASSERT_EQ(cursor->MoveFirst(), S_OK);
  Parse(kText);
  const char* p = nullptr;
  std::int32_t n = 0, v = 0;
  EXPECT_EQ(cursor->get_Level(&v), E_FAIL);
  EXPECT_EQ(cursor->SlotValue(0, &p, &n), E_FAIL);
  EXPECT_EQ(cursor->TagValue(&p, &n), E_FAIL);
  Variant none;
  ASSERT_EQ(cursor->get_Segment(&none), S_OK);
  EXPECT_EQ(none.vt, VT_NULL);
  EXPECT_EQ(cursor->MoveNext(), S_FALSE);
  // A slot the layout does not have, or past the segment's values, reads empty.
  ASSERT_EQ(cursor->MoveFirst(), S_OK);
  std::int32_t slot = 0;
  ASSERT_EQ(cursor->SlotOf("", 0, 0, "X999", 4, 1, &slot), S_OK);
  EXPECT_EQ(slot, -1);
  for (std::int32_t s : {-1, 19, 1000}) {
    ASSERT_EQ(cursor->SlotValue(s, &p, &n), S_OK);
    EXPECT_EQ(n, 0);
  }
  EXPECT_EQ(cursor->SlotValue(0, nullptr, &n), E_POINTER);
}

}  // namespace
