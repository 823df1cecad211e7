// One input through the message object the way clients use it: InputStream, a walk over every
// node reading each member, Generate, a second parse of what Generate wrote, edits through the
// handles, Generate in both modes, the streaming writer and handles after Reset. Aborts when
// an invariant breaks, so the fuzzer and the regression test see it as a crash.
#pragma once

#include <edicom/EdiComCpp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "EdiObjects.h"
#include "Grammar.h"
#include "TextCodec.h"

namespace kalvix::fuzz {

using namespace edicom;

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "parser invariant broken: %s\n", what);
  std::abort();
}
#define KALVIX_CHECK(cond)                    \
  do {                                        \
    if (!(cond)) ::kalvix::fuzz::Fail(#cond); \
  } while (0)

inline ComPtr<IEdiSegment> AsSegment(Variant& v) {
  ComPtr<IEdiSegment> s;
  if (v.vt == VT_DISPATCH && v.pdispVal) v.pdispVal->QueryInterface(IID_IEdiSegment, s.PutVoid());
  return s;
}

inline std::int32_t LevelOf(const ComPtr<IEdiSegment>& s) {
  std::int32_t l = -1;
  KALVIX_CHECK(s->get_Level(&l) == S_OK);
  return l;
}

inline std::string GenerateText(IEdiMessage* m) {
  BStr out;
  KALVIX_CHECK(m->Generate(out.Put()) == S_OK);
  return common::Utf16ToAnsi(out.View());
}

inline void ParseText(IEdiMessage* m, std::string_view text) {
  KALVIX_CHECK(m->put_InputStream(BStr(std::u16string_view(common::AnsiToUtf16(text))).Get()) == S_OK);
}

inline std::int32_t ErrorCount(IEdiMessage* m) {
  std::int32_t n = -1;
  KALVIX_CHECK(m->get_ErrorCount(&n) == S_OK && n >= 0);
  return n;
}

// Reads every member of a handle; checks what the tree's shape promises.
inline void ReadAll(const ComPtr<IEdiSegment>& s, std::int32_t level) {
  BStr text;
  KALVIX_CHECK(s->get_Tag(text.Put()) == S_OK);
  std::int32_t v = -1, positional = -1;
  KALVIX_CHECK(s->get_IsPositionalData(&positional) == S_OK && (positional == 0 || positional == 1));
  KALVIX_CHECK(s->get_Empty(&v) == S_OK && (v == 0 || v == 1));
  KALVIX_CHECK(s->get_Rubrique(&v) == S_OK && (v == 0 || v == 1));
  KALVIX_CHECK(s->get_Qualifier(text.Put()) == S_OK);
  KALVIX_CHECK(s->get_Data(&v) == S_OK && v == 0);
  HRESULT hrData = s->get_PositionalData(text.Put());
  HRESULT hrFind = s->Find(BStr("X001").Get(), 1, text.Put());
  HRESULT hrComp = s->FindInComponent(BStr("C060").Get(), 2, BStr("X044").Get(), 1, text.Put());
  KALVIX_CHECK((hrData == S_OK) == (positional == 1));
  KALVIX_CHECK((hrFind == S_OK) == (positional == 0) && (hrComp == S_OK) == (positional == 0));

  Variant child, sibling, parent, prev;
  KALVIX_CHECK(s->GetFirstChild(&child) == S_OK);
  if (ComPtr<IEdiSegment> c = AsSegment(child)) KALVIX_CHECK(LevelOf(c) == level + 1);
  KALVIX_CHECK(s->GetNextSibling(&sibling) == S_OK);
  if (ComPtr<IEdiSegment> n = AsSegment(sibling)) KALVIX_CHECK(LevelOf(n) == level);
  KALVIX_CHECK(s->get_Parent(&parent) == S_OK);
  if (ComPtr<IEdiSegment> p = AsSegment(parent)) KALVIX_CHECK(LevelOf(p) != level);
  KALVIX_CHECK(s->GetPrevSgmt(&prev) == S_OK);
}

// Every node in document order, each as a new handle.
inline std::vector<ComPtr<IEdiSegment>> Walk(IEdiMessage* m, bool read) {
  std::vector<ComPtr<IEdiSegment>> nodes;
  Variant v;
  KALVIX_CHECK(m->GetFirstSgmt(&v) == S_OK);
  std::int32_t lastLevel = 0;
  for (ComPtr<IEdiSegment> s = AsSegment(v); s;) {
    std::int32_t level = LevelOf(s);
    KALVIX_CHECK(level >= 0 && level <= lastLevel + 1);  // document order is depth first
    lastLevel = level;
    if (read) ReadAll(s, level);
    Variant next;
    KALVIX_CHECK(s->GetNextSgmt(&next) == S_OK);
    nodes.push_back(s);
    s = AsSegment(next);
    if (!s) KALVIX_CHECK(next.vt == VT_NULL);
  }
  return nodes;
}

// Tags, levels, values and free text of a tree in document order, with its error list.
inline std::string Describe(const SegmentTree& t, const ErrorReporter& errors) {
  std::string out;
  for (int i = 0; i < errors.Count(); ++i) out += errors.At(i) + "\n";
  const SegmentNode* last = nullptr;
  for (const SegmentNode* n = t.First(); n; n = n->next) {
    KALVIX_CHECK(n->prev == last);
    out += std::to_string(n->level) + " " + std::string(t.Tag(n)) + " " + std::string(t.Text(n));
    if (const SegmentLayout* l = t.Layout(n))
      for (int i = 0; i < l->count; ++i) out += "|" + std::string(t.Slot(n, i));
    out += "\n";
    last = n;
  }
  return out;
}

inline void ExerciseParser(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  {
    // The token-free path for clean interchanges and the token parser give the same result.
    SegmentTree clean, tokens;
    ErrorReporter cleanErrors, tokenErrors;
    cleanErrors.SetEcho(false);
    tokenErrors.SetEcho(false);
    ParseInterchange(std::string(input), clean, cleanErrors, true);
    ParseInterchange(std::string(input), tokens, tokenErrors, false);
    KALVIX_CHECK(Describe(clean, cleanErrors) == Describe(tokens, tokenErrors));
  }
  ComPtr<IEdiMessage> m = ComPtr<IEdiMessage>::Attach(new EdiMessage);
  ParseText(m.Get(), input);
  const std::int32_t errors = ErrorCount(m.Get());
  for (std::int32_t i = 0; i < errors; ++i) {
    BStr e;
    KALVIX_CHECK(m->get_Error(i, e.Put()) == S_OK && e.Length() > 0);
  }
  BStr none;
  KALVIX_CHECK(m->get_Error(errors, none.Put()) == E_INVALIDARG && !none.Get());

  std::vector<ComPtr<IEdiSegment>> nodes = Walk(m.Get(), true);
  const std::string once = GenerateText(m.Get());
  KALVIX_CHECK(once.find('\0') == std::string::npos);

  // What Generate writes from a clean parse, when it parses cleanly itself, writes back the same.
  if (errors == 0) {
    ComPtr<IEdiMessage> again = ComPtr<IEdiMessage>::Attach(new EdiMessage);
    ParseText(again.Get(), once);
    if (ErrorCount(again.Get()) == 0) KALVIX_CHECK(GenerateText(again.Get()) == once);
  }

  // Edits chosen by the input itself.
  std::uint32_t seed = 2166136261u;
  for (char c : input) seed = (seed ^ static_cast<unsigned char>(c)) * 16777619u;
  static const char* const kTags[] = {"DTM", "PTY", "NME", "ADR", "XEH", "XRH", "ZZZ", "RFF", "ACT", "MOA"};
  std::size_t added = 0;
  for (std::size_t i = 0; i < nodes.size() && i < 64; ++i) {
    seed = seed * 1103515245u + 12345u;
    ComPtr<IEdiSegment>& s = nodes[(seed >> 8) % nodes.size()];
    BStr tag(kTags[(seed >> 20) % 10]);
    Variant added1;
    switch ((seed >> 16) % 8) {
      case 0:
        KALVIX_CHECK(s->Delete() == S_OK);
        break;
      case 1:
        if (s->AddSegment(tag.Get(), &added1) == S_OK) {
          KALVIX_CHECK(added1.vt == VT_DISPATCH);
          ++added;
        } else {
          KALVIX_CHECK(added1.vt == VT_NULL);
        }
        break;
      case 2:
        KALVIX_CHECK(s->AddChild(tag.Get(), &added1) == S_OK && added1.vt == VT_DISPATCH);
        ++added;
        break;
      case 3:
        KALVIX_CHECK(s->put_Empty(1) == S_OK);
        break;
      case 4:
        s->Insert(BStr("v?+:'").Get(), BStr("X043").Get(), 1);
        break;
      case 5:
        s->InsertInComponent(BStr("c'd").Get(), BStr("C001").Get(), 1, BStr("X002").Get(), 1);
        break;
      case 6:
        s->put_Qualifier(BStr("Q").Get());
        break;
      default:
        KALVIX_CHECK(s->put_Data(static_cast<std::int32_t>(i)) == S_OK);
        break;
    }
  }
  GenerateText(m.Get());
  KALVIX_CHECK(m->put_QuestionMode(1) == S_OK);
  GenerateText(m.Get());
  KALVIX_CHECK(Walk(m.Get(), false).size() == nodes.size() + added);

  // The streaming writer fed with the tags of the tree, blocks included.
  for (const ComPtr<IEdiSegment>& s : nodes) {
    BStr tag, qual;
    s->get_Tag(tag.Put());
    s->get_Qualifier(qual.Put());
    std::int32_t rubrique = 0;
    s->get_Rubrique(&rubrique);
    if (rubrique) KALVIX_CHECK(m->NewSegment(BStr("XRH").Get()) == S_OK);
    KALVIX_CHECK(m->NewSegment(tag.Get()) == S_OK);
    KALVIX_CHECK(m->Insert(qual.Get(), BStr("X001").Get(), 1) == S_OK);
    if (rubrique && (seed >>= 1) & 1) KALVIX_CHECK(m->NewSegment(BStr("XRT").Get()) == S_OK);
  }
  BStr out1, out2;
  KALVIX_CHECK(m->get_OutputStream(out1.Put()) == S_OK && m->get_OutputStream(out2.Put()) == S_OK);
  KALVIX_CHECK(out1.View() == out2.View());

  // Handles on the old tree fail once it is gone.
  KALVIX_CHECK(m->Reset() == S_OK);
  if (!nodes.empty()) {
    BStr tag;
    KALVIX_CHECK(nodes[0]->get_Tag(tag.Put()) == E_FAIL);
  }
  KALVIX_CHECK(m->NewMessage() == S_OK);
  KALVIX_CHECK(Walk(m.Get(), true).size() == 1);
}

}  // namespace kalvix::fuzz
