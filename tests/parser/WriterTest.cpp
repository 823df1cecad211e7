// Generate, the streaming writer, question mode and data-flag patches, through the message
// object's interface.
#include <gtest/gtest.h>

#include "EdiObjects.h"
#include "ParserTestUtil.h"

namespace kalvix::test {
namespace {

using namespace edicom;

const std::string kXgh = "XGH+1+0039+104512+002'";

class Writer : public ::testing::Test {
 protected:
  ComPtr<IEdiMessage> m = ComPtr<IEdiMessage>::Attach(new EdiMessage);
  std::string Generate(const std::string& text) {
    EXPECT_EQ(m->put_InputStream(BStr(text).Get()), S_OK);
    std::int32_t n = -1;
    m->get_ErrorCount(&n);
    EXPECT_EQ(n, 0) << text;
    return Gen();
  }
  std::string Gen() {
    BStr out;
    EXPECT_EQ(m->Generate(out.Put()), S_OK);
    return out.Utf8();
  }
  void Seg(const char* tag) { ASSERT_EQ(m->NewSegment(BStr(tag).Get()), S_OK); }
  void Put(const char* value, const char* de, int pos = 1) {
    ASSERT_EQ(m->Insert(BStr(value).Get(), BStr(de).Get(), pos), S_OK);
  }
  void PutIn(const char* value, const char* cde, const char* de) {
    ASSERT_EQ(m->InsertInComponent(BStr(value).Get(), BStr(cde).Get(), 1, BStr(de).Get(), 1), S_OK);
  }
  std::string Output() {
    BStr out;
    EXPECT_EQ(m->get_OutputStream(out.Put()), S_OK);
    return out.Utf8();
  }
  ComPtr<IEdiSegment> Find(const char* tag, const char* qual = "") {
    Variant v;
    EXPECT_EQ(m->FindFirstSgmt(BStr(tag).Get(), BStr(qual).Get(), &v), S_OK);
    ComPtr<IEdiSegment> s;
    if (v.vt == VT_DISPATCH) v.pdispVal->QueryInterface(IID_IEdiSegment, s.PutVoid());
    return s;
  }
};

struct GenCase {
  const char* name;
  std::string in;
  std::string out;
  std::string question;  // the same tree in question mode
};

class Generated : public Writer, public ::testing::WithParamInterface<GenCase> {};

TEST_P(Generated, WritesWhatCarriesData) {
  const GenCase& c = GetParam();
  EXPECT_EQ(Generate(c.in), c.out);
  m->put_QuestionMode(1);
  EXPECT_EQ(Gen(), c.question);
}

const std::string kMsg05 = "XEH+5+1+0060+1++11'";

INSTANTIATE_TEST_SUITE_P(
    Writer, Generated,
    ::testing::Values(
        // Blocks whose segments hold only qualifiers disappear; question mode keeps them.
        GenCase{
            "QualifierOnlyBlock",
            kXgh + kMsg05 + "GIS+A001+6'XRH+1'PTY+003'XRT+1'XRH+1'PTY+003+CLI1'NME+001+DUPONT:JEAN'XRT+1'XET+05'XGT+1'",
            kXgh + "XEH+05+1+0060+1++11'GIS+A001+6'XRH+1'PTY+003+CLI1'NME+001+DUPONT:JEAN'XRT+1'XET+05'XGT+1'",
            kXgh + "XEH+05+1+0060+1++11'GIS+A001+6'XRH+1'PTY+003'XRT+1'XRH+1'PTY+003+CLI1'NME+001+DUPONT:JEAN'XRT+1'"
                   "XET+05'XGT+1'"},
        GenCase{"EmptySiblingBlocks", kXgh + kMsg05 + "XRH+1'PTY+003'XRT+1'XRH+1'PTY+004'NME+001'XRT+1'XET+05'XGT+1'",
                kXgh + "XEH+05+1+0060+1++11'XET+05'XGT+1'",
                kXgh + "XEH+05+1+0060+1++11'XRH+1'PTY+003'XRT+1'XRH+1'PTY+004'NME+001'XRT+1'XET+05'XGT+1'"},
        GenCase{"EmptyBlockAfterAWrittenOne", kXgh + kMsg05 + "XRH+1'PTY+003+X'XRT+1'XRH+1'PTY+004'XRT+1'XET+05'XGT+1'",
                kXgh + "XEH+05+1+0060+1++11'XRH+1'PTY+003+X'XRT+1'XET+05'XGT+1'",
                kXgh + "XEH+05+1+0060+1++11'XRH+1'PTY+003+X'XRT+1'XRH+1'PTY+004'XRT+1'XET+05'XGT+1'"},
        // A block written at depth 2 keeps its empty enclosing block; the XRT of that block
        // lowers the removable depth to 1 again, so a later empty block of depth 1 goes.
        GenCase{"EmptyBlockAfterADeeperWrittenOne",
                kXgh + "XEH+01+2'XRH+1'ROD+110'XRH+2'ICD+101'XRT+2'XRT+1'XRH+1'ROD+111'XRT+1'XET+01'XGT+1'",
                kXgh + "XEH+01+2'XRH+1'ROD+110'XRH+2'ICD+101'XRT+2'XRT+1'XET+01'XGT+1'",
                kXgh + "XEH+01+2'XRH+1'ROD+110'XRH+2'ICD+101'XRT+2'XRT+1'XRH+1'ROD+111'XRT+1'XET+01'XGT+1'"},
        GenCase{"ReleasedCharacters", kXgh + "XEH+91+1'FTX+1+A?+B?:C?'D??E'XET+91'XGT+1'",
                kXgh + "XEH+91+1'FTX+1+A?+B?:C?'D??E'XET+91'XGT+1'",
                kXgh + "XEH+91+1'FTX+1+A?+B?:C?'D??E'XET+91'XGT+1'"},
        // Trailing empty elements vanish, inner ones keep their separators; X910 has two digits.
        GenCase{"EmptyElements", kXgh + "XEH+91+1'ADR++MAIN STREET:12::::+++'ADR+1'MOA+:1+::'XET+91'XGT+1'",
                kXgh + "XEH+91+1'ADR++MAIN STREET:12'MOA+:1'XET+91'XGT+1'",
                kXgh + "XEH+91+1'ADR++MAIN STREET:12'ADR+1'MOA+:1'XET+91'XGT+1'"}),
    [](const ::testing::TestParamInfo<GenCase>& i) { return std::string(i.param.name); });

TEST_F(Writer, SampleLinesSurviveAGenerateRoundTrip) {
  std::vector<std::string> lines;
  if (!ReadLines(EDI_SHARED_DIR "/samples/valid.txt", lines)) GTEST_SKIP() << "shared samples not present";
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    std::string once = Generate(line);
    EXPECT_EQ(Generate(once), once);
  }
}

TEST_F(Writer, StreamingDropsEmptySegmentsAndBlocks) {
  Seg("XGH");
  Put("1", "X926");
  Seg("XRH");
  Seg("ADR");
  Seg("XRT");
  EXPECT_EQ(Output(), "XGH+1'");
  EXPECT_EQ(Output(), "XGH+1'");
  Seg("ADR");
  Put("001", "X001");
  PutIn("MAIN STREET", "C001", "X002");
  Put("ignored", "X002");  // X002 is a component of C001 in ADR
  Seg("XRT");              // no open block: refused
  EXPECT_EQ(Output(), "XGH+1'ADR+001+MAIN STREET'");
}

TEST_F(Writer, StreamingQuestionModeWritesQualifiers) {
  m->put_QuestionMode(1);
  std::int32_t q = 0;
  m->get_QuestionMode(&q);
  EXPECT_EQ(q, 1);
  Seg("MOA");
  PutIn("001", "C035", "X028");
  Seg("MOA");
  PutIn("5", "C030", "X024");
  Seg("XRH");
  Seg("PTY");
  Seg("XRT");
  EXPECT_EQ(Output(), "MOA+001'MOA++5'XRH+1'PTY'XRT+1'");
}

// A block cut away after the text was already read out must not take the "'" before it.
TEST_F(Writer, StreamingCutAfterOutputKeepsTheTerminator) {
  Seg("XGH");
  Put("1", "X926");
  Seg("XRH");
  EXPECT_EQ(Output(), "XGH+1'XRH+1'");
  Seg("ADR");
  Seg("XRT");
  Seg("XGT");
  Put("1", "X926");
  EXPECT_EQ(Output(), "XGH+1'XGT+1'");

  ASSERT_EQ(m->Reset(), S_OK);  // an empty block first in the text leaves no stray "'"
  Seg("XRH");
  Seg("ADR");
  Seg("XRT");
  Seg("XGH");
  Put("1", "X926");
  EXPECT_EQ(Output(), "XGH+1'");
}

TEST_F(Writer, QuestionModeSurvivesReset) {
  m->put_QuestionMode(1);
  ASSERT_EQ(m->Reset(), S_OK);
  std::int32_t q = -1;
  m->get_QuestionMode(&q);
  EXPECT_EQ(q, 0);
  Generate(kXgh + "XEH+91+1'ADR+1'XET+91'XGT+1'");
  EXPECT_EQ(Gen(), kXgh + "XEH+91+1'ADR+1'XET+91'XGT+1'");
}

TEST_F(Writer, DeletedSegmentsAreLeftOut) {
  const std::string text = kXgh +
                           "XEH+91+1'NME+001+DUPONT'ADR+001+STREET'DTM+1:2'XRH+1'QRS+1+A'XRH+2'RDT+1+B'XRT+2'"
                           "XRT+1'XRH+1'DOC+1+C'XRT+1'XET+91'XEH+90+1'NME+1+X'XET+90'XGT+1'";
  Generate(text);
  ComPtr<IEdiSegment> adr = Find("ADR");
  ASSERT_TRUE(adr);
  ASSERT_EQ(adr->Delete(), S_OK);
  EXPECT_EQ(Gen(), kXgh +
                       "XEH+91+1'NME+001+DUPONT'DTM+1:2'XRH+1'QRS+1+A'XRH+2'RDT+1+B'XRT+2'XRT+1'XRH+1'DOC+1+C'"
                       "XRT+1'XET+91'XEH+90+1'NME+1+X'XET+90'XGT+1'");
  // Navigation still reaches the deleted node.
  ComPtr<IEdiSegment> nme = Find("NME");
  Variant next;
  nme->GetNextSgmt(&next);
  ComPtr<IEdiSegment> again;
  next.pdispVal->QueryInterface(IID_IEdiSegment, again.PutVoid());
  BStr tag;
  again->get_Tag(tag.Put());
  EXPECT_EQ(tag.Utf8(), "ADR");

  // A deleted rubrique takes its own block with it, and nothing after it.
  Find("QRS")->Delete();
  EXPECT_EQ(Gen(), kXgh + "XEH+91+1'NME+001+DUPONT'DTM+1:2'XRH+1'DOC+1+C'XRT+1'XET+91'XEH+90+1'NME+1+X'XET+90'XGT+1'");
  // A deleted message header takes its message up to its trailer.
  Find("XEH", "91")->Delete();
  EXPECT_EQ(Gen(), kXgh + "XEH+90+1'NME+1+X'XET+90'XGT+1'");
}

TEST_F(Writer, PatchedFlagsApplyToSegmentsCreatedAfterThePatch) {
  const std::string text = kXgh + "XEH+91+1'ADR+001'XET+91'XGT+1'";
  const std::string without = kXgh + "XEH+91+1'XET+91'XGT+1'";
  EXPECT_EQ(Generate(text), without);
  std::int32_t prev = -1;
  ASSERT_EQ(m->PatchSegment(BStr("ADR").Get(), 0, 1, &prev), S_OK);
  EXPECT_EQ(prev, 0);
  // The parsed ADR brings back its own flags and leaves them in the table.
  EXPECT_EQ(Gen(), without);
  ASSERT_EQ(m->PatchSegment(BStr("ADR").Get(), 0, 1, &prev), S_OK);
  EXPECT_EQ(prev, 0);
  ASSERT_EQ(m->PatchSegment(BStr("ADR").Get(), 0, 1, &prev), S_OK);
  EXPECT_EQ(prev, 1);
  // Patched before the parse, it changes what is kept; and emptiness as clients see it.
  EXPECT_EQ(Generate(text), text);
  std::int32_t empty = -1;
  Find("ADR")->get_Empty(&empty);
  EXPECT_EQ(empty, 0);
  ASSERT_EQ(m->PatchSegment(BStr("ADR").Get(), 0, 0, &prev), S_OK);
  EXPECT_EQ(prev, 1);
  Find("ADR")->get_Empty(&empty);
  EXPECT_EQ(empty, 1);
  EXPECT_EQ(m->PatchSegment(BStr("ADR").Get(), 12, 1, &prev), E_INVALIDARG);
  EXPECT_EQ(m->PatchSegment(BStr("ZZZ").Get(), 0, 1, &prev), E_INVALIDARG);
}

TEST_F(Writer, BuildsAMessageThroughHandles) {
  ASSERT_EQ(m->NewMessage(), S_OK);
  Variant v;
  m->GetFirstSgmt(&v);
  ComPtr<IEdiSegment> xgh;
  v.pdispVal->QueryInterface(IID_IEdiSegment, xgh.PutVoid());
  Variant xehV;
  ASSERT_EQ(xgh->AddChild(BStr("XEH").Get(), &xehV), S_OK);
  ComPtr<IEdiSegment> xeh;
  xehV.pdispVal->QueryInterface(IID_IEdiSegment, xeh.PutVoid());
  xeh->Insert(BStr("05").Get(), BStr("X910").Get(), 1);
  xeh->Insert(BStr("1").Get(), BStr("X914").Get(), 1);
  Variant a, b, c, d;
  ASSERT_EQ(xeh->AddSegment(BStr("RFF").Get(), &a), S_OK);
  ASSERT_EQ(xeh->AddSegment(BStr("GIS").Get(), &b), S_OK);
  ASSERT_EQ(xeh->AddSegment(BStr("DTM").Get(), &c), S_OK);
  ComPtr<IEdiSegment> rff, gis, dtm;
  a.pdispVal->QueryInterface(IID_IEdiSegment, rff.PutVoid());
  b.pdispVal->QueryInterface(IID_IEdiSegment, gis.PutVoid());
  c.pdispVal->QueryInterface(IID_IEdiSegment, dtm.PutVoid());
  rff->InsertInComponent(BStr("X1").Get(), BStr("C070").Get(), 1, BStr("X051").Get(), 1);
  gis->InsertInComponent(BStr("6").Get(), BStr("C025").Get(), 1, BStr("X022").Get(), 1);
  dtm->InsertInComponent(BStr("20250101").Get(), BStr("C015").Get(), 1, BStr("X017").Get(), 1);
  Variant xetV;
  xgh->AddChild(BStr("XET").Get(), &xetV);
  ComPtr<IEdiSegment> xet;
  xetV.pdispVal->QueryInterface(IID_IEdiSegment, xet.PutVoid());
  xet->Insert(BStr("05").Get(), BStr("X910").Get(), 1);
  EXPECT_EQ(Gen(), "XGH+1'XEH+05+1'GIS++6'DTM+:20250101'RFF+:X1'XET+05'");
  // A node without a content model refuses children it cannot place.
  EXPECT_EQ(xgh->AddSegment(BStr("DTM").Get(), &d), E_FAIL);
  EXPECT_EQ(TakeErrorDescription(), "Rubrique layout not found");
  EXPECT_EQ(d.vt, VT_NULL);
}

}  // namespace
}  // namespace kalvix::test
