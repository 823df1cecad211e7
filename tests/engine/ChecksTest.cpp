// The segment checks and the validator's walk on one-line interchanges against the sample
// referential's trigger rows: (list, code, segment number, segment key, message).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "EngineTestSupport.h"
#include "ecTypes.h"
#include "ecValidator.h"

using namespace ruvala;
using enginetest::ParserEnvironment;

namespace {

constexpr TDate kMsgDate = 45838;  // 2025-06-30

struct Finding {
  char list;  // 'E' or 'W'
  std::string code;
  int segmentNo;
  std::string key;
  std::string message;  // empty: not compared
};

std::vector<Finding> All(const TValidator& v) {
  std::vector<Finding> out;
  for (int i = 0; i < v.Errors().Count(); ++i) {
    const auto& e = v.Errors().GetItems(i);
    out.push_back({'E', e.Error.Code, e.SgmtNo, e.SgmtKey, e.Error.Message});
  }
  for (int i = 0; i < v.Warnings().Count(); ++i) {
    const auto& w = v.Warnings().GetItems(i);
    out.push_back({'W', w.Error.Code, w.SgmtNo, w.SgmtKey, w.Error.Message});
  }
  return out;
}

std::string Describe(const std::vector<Finding>& list) {
  std::string s;
  for (const Finding& f : list)
    s += std::string(1, f.list) + " " + f.code + " #" + std::to_string(f.segmentNo) + " [" + f.key + "] " + f.message +
         "\n";
  return s.empty() ? "(none)\n" : s;
}

void ExpectFindings(const TValidator& v, const std::vector<Finding>& want, const std::string& what) {
  auto got = All(v);
  bool same = got.size() == want.size();
  for (std::size_t i = 0; same && i < got.size(); ++i)
    same = got[i].list == want[i].list && got[i].code == want[i].code && got[i].segmentNo == want[i].segmentNo &&
           got[i].key == want[i].key && (want[i].message.empty() || got[i].message == want[i].message);
  EXPECT_TRUE(same) << what << "\nwant:\n" << Describe(want) << "got:\n" << Describe(got);
}

// An insurer-to-broker message of class 90: the given segments are numbered from 3.
std::string Insurer(const std::string& body) {
  return "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'" + body + "'XET+90'XGT+1'";
}
// A broker-to-insurer message of class 91 with a name first: the given segments start at 4.
std::string Broker(const std::string& body) {
  return "XGH+1+104512+0079+002'XEH+91+1+0200+1'NME+001+PEETERS:MARC+001'" + body + "'XET+91'XGT+1'";
}
// A class 01 contract in domain 10: ROD is #10, ICD #11, IFD #12.
std::string Contract(const std::string& rod, const std::string& icd, const std::string& ifd) {
  return "XGH+1+0039+104512+002'XEH+01+2+0002+1++10'IPD+A532+AUTO01'IPD+A502+01'DTM+001:01012025:001'"
         "RFF+001:POL123456'XRH+1'PTY+003+CLI00457'NME+001+DUPONT:JEAN'ADR+001+RUE DE LA LOI:16+1000+BRUXELLES+B'"
         "XRT+1'XRH+1'ROD+" +
         rod + "'XRH+2'ICD+" + icd + "'IFD+" + ifd + "'XRT+2'XRT+1'XET+01'XGT+1'";
}

class ChecksTest : public ::testing::Test {
 protected:
  static TTelebib* Sample() {
    static std::unique_ptr<TTelebib> ref;
    if (!ref && common::FileExists(enginetest::SampleSqlite())) {
      ref = std::make_unique<TTelebib>();
      ref->SetAccessDbName(enginetest::SampleSqlite());
    }
    return ref.get();
  }
  void SetUp() override {
    if (!ParserEnvironment::Available()) GTEST_SKIP() << "the parser component is not built";
    if (!Sample()) GTEST_SKIP() << "no sample referential";
  }
  static void Configure(TValidator& v, bool filter) {
    v.SetInterApplication(false);
    v.SetCheckFilter(filter);
    v.SetMessageDate(kMsgDate);
  }
};

struct Case {
  const char* name;
  std::string text;
  bool filter;
  std::vector<Finding> want;
};

}  // namespace

// Validates each case on a fresh validator of that referential and compares every finding.
static void RunCases(TTelebib* ref, const std::vector<Case>& cases, bool interApplication = false) {
  for (const Case& c : cases) {
    TValidator v(ref);
    v.SetInterApplication(interApplication);
    v.SetCheckFilter(c.filter);
    v.SetMessageDate(kMsgDate);
    v.SetEdiMessage(c.text);
    v.Validate();
    ExpectFindings(v, c.want, c.name);
  }
}

TEST_F(ChecksTest, DatesAgainstTheirFormatCodes) {
  const Case cases[] = {
      {"code above 12, digits", Insurer("DTM+006:20120131:102"), false, {}},
      {"code above 12, not digits",
       Insurer("DTM+006:2012-01-31:102"),
       false,
       {{'E', "E0014", 3, "DTM+006", "Expecting numeric value for \"X017:1\", found \"2012-01-31\""}}},
      {"no code is mask 1", Insurer("DTM+006:31012012"), false, {}},
      {"mask 1 too short",
       Insurer("DTM+006:3101201"),
       false,
       {{'E', "E0017", 3, "DTM+006", "Invalid date format, found \"3101201\", expecting \"DDMMYYYY\""}}},
      {"mask 1, 31 February",
       Insurer("DTM+006:31022012"),
       false,
       {{'E', "E0018", 3, "DTM+006", "Invalid date value, found \"31022012\", expecting \"DDMMYYYY\""}}},
      {"mask 1, six characters", Insurer("DTM+006:311212"), false, {{'E', "E0017", 3, "DTM+006", ""}}},
      {"leap day", Insurer("DTM+006:29022024:001"), false, {}},
      {"no leap day", Insurer("DTM+006:29022025:001"), false, {{'E', "E0018", 3, "DTM+006", ""}}},
      {"code 12 reads 20YY", Insurer("DTM+006:010299:012"), false, {}},
      {"code 9, month 13",
       Insurer("DTM+006:13:009"),
       false,
       {{'E', "E0018", 3, "DTM+006", "Invalid date value, found \"13\", expecting \"MM\""}}},
      {"code 7, minute 60", Insurer("DTM+006:2360:007"), false, {{'E', "E0018", 3, "DTM+006", ""}}},
      {"code 2 with a time", Insurer("DTM+006:31012012235959:002"), false, {}},
      {"hour 24", Insurer("DTM+006:31012012240000:002"), false, {{'E', "E0018", 3, "DTM+006", ""}}},
  };
  for (const Case& c : cases) {
    TValidator v(Sample());
    Configure(v, c.filter);
    v.SetEdiMessage(c.text);
    v.Validate();
    ExpectFindings(v, c.want, c.name);
  }
}

TEST_F(ChecksTest, NumericFormAndLength) {
  const Case cases[] = {
      {"plus sign", Insurer("QTY+002:?+12:KW"), false, {}},
      {"minus sign", Insurer("QTY+002:-3:KW"), false, {}},
      {"decimal point",
       Insurer("QTY+002:1.5:KW"),
       false,
       {{'E', "E0014", 3, "QTY+002", "Expecting numeric value for \"C065:1, X048:1\", found \"1.5\""}}},
      {"lone sign", Insurer("QTY+002:?+:KW"), false, {{'E', "E0014", 3, "QTY+002", ""}}},
      {"leading blank", Insurer("QTY+002: 1:KW"), false, {{'E', "E0014", 3, "QTY+002", ""}}},
      {"exactly the length", Broker("ADR+001+GROTE MARKT:123456789+8000+BRUGGE+B"), false, {}},
      {"one over the length",
       Broker("ADR+001+GROTE MARKT:1234567890+8000+BRUGGE+B"),
       false,
       {{'E', "E0015", 4, "ADR+001", "Too long value for \"C001:1, X003:1\", found \"1234567890\", max length = 9"}}},
  };
  for (const Case& c : cases) {
    TValidator v(Sample());
    Configure(v, c.filter);
    v.SetEdiMessage(c.text);
    v.Validate();
    ExpectFindings(v, c.want, c.name);
  }
}

// Data may hold any byte but NUL; control characters come out escaped in the finding's text,
// letters of the code page as they are.
TEST_F(ChecksTest, ControlCharactersInValuesAreEscapedInFindings) {
  const std::vector<Case> cases = {
      {"SOH",
       Insurer("QTY+002:1\x01"
               "5:KW"),
       false,
       {{'E', "E0014", 3, "QTY+002", "Expecting numeric value for \"C065:1, X048:1\", found \"1\\x015\""}}},
      {"tab, CR LF",
       Insurer("DTM+006:2012\t01\r\n31:102"),
       false,
       {{'E', "E0014", 3, "DTM+006", "Expecting numeric value for \"X017:1\", found \"2012\\x0901\\x0D\\x0A31\""}}},
      {"letters",
       Insurer("QTY+002:1\xC3\xA9:KW"),
       false,
       {{'E', "E0014", 3, "QTY+002", "Expecting numeric value for \"C065:1, X048:1\", found \"1\xC3\xA9\""}}},
  };
  RunCases(Sample(), cases);
}

TEST_F(ChecksTest, AddressesPartiesAndCharacters) {
  const Case cases[] = {
      {"no country is B", Broker("ADR+001+GROTE MARKT:1+8000+BRUGGE"), false, {}},
      {"empty zip for B",
       Broker("ADR+001+GROTE MARKT:1++BRUGGE+B"),
       false,
       {{'E', "E0028", 4, "ADR+001", "Invalid zip code for \"X006:1\", found \"\" for country \"B\""}}},
      {"unknown zip, country taken as B",
       Broker("ADR+001+GROTE MARKT:1+1999+BRUGGE"),
       false,
       {{'E', "E0028", 4, "ADR+001", "Invalid zip code for \"X006:1\", found \"1999\" for country \"B\""}}},
      {"foreign zip not looked up", Broker("ADR+001+DAM:1+1012LG+AMSTERDAM+NL"), false, {}},
      {"COM e-mail channel", Broker("COM+003:marc/peeters@example.be"), true, {}},
      {"COM phone, plain mode", Broker("COM+001:050/12.34.56"), false, {}},
      {"COM lower case",
       Broker("COM+001:abc"),
       true,
       {{'W', "W0012", 4, "COM+001", "Invalid character (\"a\") for \"C010:1, X014:1\", found \"abc\""}}},
  };
  for (const Case& c : cases) {
    TValidator v(Sample());
    Configure(v, c.filter);
    v.SetEdiMessage(c.text);
    v.Validate();
    ExpectFindings(v, c.want, c.name);
  }
}

TEST_F(ChecksTest, InsuranceChecksOnlyInFilterMode) {
  const Case cases[] = {
      {"unknown guarantee, plain", Contract("110", "999", "RCBASE"), false, {}},
      {"unknown guarantee, filter",
       Contract("110", "999", "RCBASE"),
       true,
       {{'E', "E0009", 11, "ROD+110'ICD+999", "Invalid value for \"C095:1, X058:1\", found \"999\""},
        {'E', "E0020", 12, "ROD+110'ICD+999'IFD+RCBASE", ""}}},
      {"guarantee outside the domain",
       Contract("110", "102", "OMNI1"),
       true,
       {{'E', "E0019", 11, "ROD+110'ICD+102", "Invalid value for \"C095:1, X058:1\", found \"102\" in domain \"10\""}}},
      {"risk object not in the table",
       Contract("998", "101", "RCBASE"),
       true,
       {{'E', "E0009", 10, "ROD+998", "Invalid value for \"X052:1\", found \"998\""}}},
      {"risk object, plain", Contract("998", "101", "RCBASE"), false, {}},
  };
  for (const Case& c : cases) {
    TValidator v(Sample());
    Configure(v, c.filter);
    v.SetEdiMessage(c.text);
    v.Validate();
    ExpectFindings(v, c.want, c.name);
  }
}

TEST_F(ChecksTest, WalkNumbersStampsAndOutcomes) {
  TValidator v(Sample());
  Configure(v, false);
  // Syntax errors: one E0005 with their number, nothing else (the shared sample's second line).
  if (std::ifstream in(enginetest::SamplesDir() + "syntax-errors.txt"); in) {
    std::string line1, line2;
    std::getline(in, line1);
    std::getline(in, line2);
    v.SetEdiMessage(line2);
    EXPECT_FALSE(v.Validate());
    ExpectFindings(v, {{'E', "E0005", 0, "", "Invalid Edifact message (2 error(s) found)"}}, "two syntax errors");
  }

  // Every segment carries its number in the low half of Data.
  v.SetEdiMessage(Contract("110", "101", "RCBASE"));
  EXPECT_TRUE(v.Validate()) << Describe(All(v));
  edicom::Variant first;
  ASSERT_EQ(v.Edi()->GetFirstSgmt(&first), edicom::S_OK);
  int n = 0;
  for (auto s = SegmentFromVariant(first); s; s = TSgmt(s).Next()) EXPECT_EQ(GetDataSegmentNo(s.Get()), ++n);
  EXPECT_EQ(n, 14);

  // ValidateEx: warnings only, errors, clean.
  std::string error = "as passed";
  v.SetEdiMessage(Insurer("ATT+A020+9"));
  EXPECT_EQ(v.ValidateEx(error), 2);
  EXPECT_EQ(error, "Obsolete value for \"C005:1, X011:1\", found \"9\"");
  v.SetEdiMessage(Insurer("ATT+A020+77"));
  EXPECT_EQ(v.ValidateEx(error), 3);
  EXPECT_EQ(error, "Invalid value for \"C005:1, X011:1\", found \"77\"");
  error = "as passed";
  v.SetEdiMessage(Insurer("ATT+A020+1"));
  EXPECT_EQ(v.ValidateEx(error), 0);
  EXPECT_EQ(error, "as passed");
  v.SetEdiMessage(" \t\r\n");
  EXPECT_EQ(v.ValidateEx(error), 0);
  ExpectFindings(v, {{'E', "E0002", 0, "", "Empty Edifact message"}}, "blank text");
}

TEST_F(ChecksTest, ShortClassNumberIsPaddedForLaterChecks) {
  TValidator v(Sample());
  Configure(v, false);
  std::string text =
      "XGH+1+0039+104512+002'XEH+5+1+0060+1++11'DTM+008:20032025:001'RFF+003:CL-58-2025-1234'XET+5'XGT+1'";
  v.SetEdiMessage(text);
  v.Validate();
  ExpectFindings(v, {}, "class 5");
  edicom::Variant first;
  ASSERT_EQ(v.Edi()->GetFirstSgmt(&first), edicom::S_OK);
  TSgmt xeh(TSgmt(SegmentFromVariant(first)).Next());
  EXPECT_EQ(xeh.Find("X910", 1), "05");
}

TEST_F(ChecksTest, MessageDateIsTakenOnceFromToday) {
  TValidator v(Sample());
  EXPECT_EQ(v.MessageDate(), 0);
  v.SetEdiMessage(Insurer("ATT+A020+1"));
  v.Validate();
  EXPECT_EQ(v.MessageDate(), Today());
  v.SetMessageDate(42005);
  v.Validate();
  EXPECT_EQ(v.MessageDate(), 42005);
}

// A copy of the sample referential changed by a few statements: a small fixture per fault.
static std::string ChangedSample(const std::string& name, const char* sql) {
  std::string path = common::TempFolder() + "ruvala-" + name + "-" + std::to_string(::getpid()) + ".db";
  {
    std::ifstream src(enginetest::SampleSqlite(), std::ios::binary);
    std::ofstream dst(path, std::ios::binary | std::ios::trunc);
    dst << src.rdbuf();
  }
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
  return path;
}

TEST_F(ChecksTest, ReferentialGapsAreRecordedAndTheWalkGoesOn) {
  std::string path = ChangedSample("gaps",
                                   "DELETE FROM A_SEGMENT WHERE Segment='RFF';"
                                   "DELETE FROM A_DE WHERE DE='X048';"
                                   "DELETE FROM A_CDE WHERE CDE='C005';");
  TTelebib ref;
  ref.SetAccessDbName(path);
  TValidator v(&ref);
  v.SetInterApplication(false);
  v.SetMessageDate(kMsgDate);
  v.SetEdiMessage(Insurer("DTM+006:15032021:1a'RFF+009:1-ABC-123'ATT+A020+9'QTY+002:85:KW"));
  v.Validate();
  ExpectFindings(v,
                 {{'E', "E0014", 3, "DTM+006", "Expecting numeric value for \"C015:1, X018:1\", found \"1a\""},
                  {'E', "E0001", 4, "RFF+009", "Exception Segment \"RFF\" not found"},
                  {'E', "E0001", 5, "ATT+A020", "Exception Cde \"C005\" not found"},
                  {'E', "E0001", 6, "QTY+002", "Exception De \"X048\" not found"}},
                 "gaps");
  std::remove(path.c_str());
}

TEST_F(ChecksTest, PendingListCheckStaysInsideOneValidation) {
  // With X010 optional an ATT whose check ends early (E0013) leaves its list check pending.
  std::string path =
      ChangedSample("pending", "UPDATE A_SEGMENT_LAYOUT SET Obligatoire=0 WHERE SEGMENT='ATT' AND DE='X010';");
  TTelebib ref;
  ref.SetAccessDbName(path);
  TValidator v(&ref);
  v.SetInterApplication(false);
  v.SetMessageDate(kMsgDate);
  v.SetEdiMessage(Insurer("ATT+A020+:::Usage prive'ATT++77"));
  v.Validate();
  ExpectFindings(v,
                 {{'E', "E0013", 3, "ATT+A020", "Value of \"C005:1, X011:1\" mandatory"},
                  {'E', "E0009", 4, "ATT+", "Invalid value for \"C005:1, X011:1\", found \"77\""}},
                 "within one message");
  v.SetEdiMessage(Insurer("ATT+A020+:::Usage prive"));
  v.Validate();
  ExpectFindings(v, {{'E', "E0013", 3, "ATT+A020", ""}}, "armed at the end");
  v.SetEdiMessage(Insurer("ATT++77"));
  v.Validate();
  ExpectFindings(v, {}, "next message starts clean");
  std::remove(path.c_str());
}

TEST(ValidatorState, UnitListsAndStamps) {
  TValidator v(nullptr);
  try {
    v.GetX912(-1);
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "No X912 value");
  }
  EXPECT_THROW(v.GetX916(-1), std::runtime_error);
  v.SetX912(-1, "7");
  v.SetX912(3, "12345");
  EXPECT_EQ(v.GetX912(0), "0007");
  EXPECT_EQ(v.GetX912(2), "");
  EXPECT_EQ(v.GetX912(-1), "12345");
  EXPECT_EQ(DataSegmentNo(DataWithSegmentNo(0x00070000, 70000)), 70000 & 0xFFFF);
  EXPECT_EQ(DataUnitNo(DataWithSegmentNo(0x00070000, 70000)), 7);
  EXPECT_EQ(DataUnitNo(DataWithUnitNo(0x1234, 304)), 304);
  EXPECT_EQ(DataSegmentNo(DataWithUnitNo(0x1234, 304)), 0x1234);
}

TEST_F(ChecksTest, OccurrencesCompositesAndCodeLists) {
  // X035 mandatory with three occurrences; FTX+001 and XEH's X910 name code lists.
  std::string path = ChangedSample("generic",
                                   "UPDATE A_CDE_LAYOUT SET Obligatoire=1 WHERE CDE='C040' AND DE='X035';"
                                   "UPDATE A_SEGMENT SET DE='X019' WHERE Segment='FTX';"
                                   "UPDATE A_SEGMENT SET DE='X910' WHERE Segment='XEH';"
                                   "INSERT INTO VALEUR (Code, Valeur) VALUES ('001', 'HELLO'), ('90', 'A');");
  TTelebib ref;
  ref.SetAccessDbName(path);
  const std::string line71(71, 'L');
  // A broker message whose name has all three first names.
  auto broker = [](const std::string& body) {
    return "XGH+1+104512+0079+002'XEH+91+1+0200+1'NME+001+PEETERS:MARC:A:B+001'" + body + "'XET+91'XGT+1'";
  };
  RunCases(&ref, {
                     {"mandatory, all three present", Insurer("NME+001+DUPONT:JEAN:PIERRE:MARIE"), false, {}},
                     {"mandatory, second missing",
                      Insurer("NME+001+DUPONT:JEAN::MARIE"),
                      false,
                      {{'E', "E0013", 3, "NME+001", "Value of \"C040:1, X035:2\" mandatory"}}},
                     {"optional, gap ends the element", broker("FTX+003+A::" + line71), false, {}},
                     {"optional, no gap",
                      broker("FTX+003+A:" + line71),
                      false,
                      {{'E', "E0015", 4, "FTX+003",
                        "Too long value for \"C020:1, X020:2\", found \"" + line71 + "\", max length = 70"}}},
                     {"optional composite absent", broker("ADR+001++8000+BRUGGE+B"), false, {}},
                     {"listed value", broker("FTX+001+HELLO"), false, {}},
                     {"value outside the named list",
                      broker("FTX+001+BYE"),
                      false,
                      {{'E', "E0009", 4, "FTX+001", "Invalid value for \"C020:1, X020:1\", found \"BYE\""}}},
                     // XEH+90 names list 90, but in an X segment the next element is not held against it.
                     {"no lists in X segments", Insurer("ATT+A020+1"), false, {}},
                 });
  std::remove(path.c_str());
}

TEST_F(ChecksTest, SpecificValues) {
  const std::string tooLong(71, 'D');
  RunCases(Sample(),
           {
               // A known specific value leaves the rest of its composite alone.
               {"known value skips the composite", Insurer("ATT+A020+90:A020:0039:" + tooLong), false, {}},
               {"unknown value",
                Insurer("ATT+A020+95:A020:0039:" + tooLong),
                false,
                {{'E', "E0010", 3, "ATT+A020", "Specific value not found, Oca:\"0039\", List:\"A020\", Value:\"95\""}}},
               {"insurer without list",
                Insurer("ATT+A020+90::0039"),
                false,
                {{'E', "E0011", 3, "ATT+A020", "Invalid specific value found, Oca:\"0039\", List:\"\", Value:\"90\""}}},
           });
  // Inter-application mode refuses them even when known; it also turns on the filter checks.
  for (const Case& c : std::vector<Case>{
           {"known value refused",
            Insurer("ATT+A020+90:A020:0039"),
            false,
            {{'E', "E0012", 3, "ATT+A020",
              "Specific value not allowed in Inter-Application mode, found Oca:\"0039\", vist:\"A020\", "
              "value:\"90\""}}},
           {"filter checks on",
            Contract("110", "999", "RCBASE"),
            false,
            {{'E', "E0009", 11, "ROD+110'ICD+999", ""}, {'E', "E0020", 12, "ROD+110'ICD+999'IFD+RCBASE", ""}}},
       }) {
    TValidator v(Sample());
    v.SetCheckFilter(false);
    v.SetMessageDate(kMsgDate);
    v.SetEdiMessage(c.text);
    v.Validate();
    // Control-table findings (E0006 to E0008) are not under test here.
    auto got = All(v);
    std::erase_if(got, [](const Finding& f) { return f.code >= "E0006" && f.code <= "E0008"; });
    bool same = got.size() == c.want.size();
    for (std::size_t i = 0; same && i < got.size(); ++i)
      same = got[i].code == c.want[i].code && got[i].segmentNo == c.want[i].segmentNo && got[i].key == c.want[i].key &&
             (c.want[i].message.empty() || got[i].message == c.want[i].message);
    EXPECT_TRUE(same) << c.name << "\nwant:\n" << Describe(c.want) << "got:\n" << Describe(got);
  }
}

TEST_F(ChecksTest, SpecialCheckersInPlainAndFilterMode) {
  const std::string moa = Insurer("MOA+001:41250:2:EUR+IDX039");
  const std::string rff = Insurer("RFF+020:AB.12");
  // A claim in domain 11: a party block starts at segment 3.
  auto claim = [](const std::string& body) {
    return "XGH+1+0058+104512+002'XEH+05+1+0060+1++11'" + body + "'XET+05'XGT+1'";
  };
  RunCases(Sample(),
           {
               {"MOA X024, plain",
                moa,
                false,
                {{'E', "E0009", 3, "MOA+001", "Invalid value for \"C030:1, X024:1\", found \"IDX039\""}}},
               {"MOA X024, filter", moa, true, {}},
               {"RFF 020, plain", rff, false, {}},
               {"RFF 020, filter",
                rff,
                true,
                {{'W', "W0012", 3, "RFF+020", "Invalid character (\".\") for \"C070:1, X051:1\", found \"AB.12\""}}},
               {"RFF 001 not looked at", Insurer("RFF+001:AB.12"), true, {}},
               {"PTY 002 skips X076", claim("XRH+1'PTY+002+104512+++5'XRT+1"), false, {}},
               {"PTY 006 skips X076", claim("XRH+1'PTY+006+104512+++5'XRT+1"), true, {}},
               {"PTY 003 checks X076",
                claim("XRH+1'PTY+003+CLI1+++5'XRT+1"),
                false,
                {{'E', "E0009", 3, "PTY+003", "Invalid value for \"C062:1, X076:1\", found \"5\""}}},
               // Characters, not bytes: an accented capital is one character, reported whole.
               {"COM accented character",
                Broker("COM+001:\xC3\x89"
                       "COLE"),
                true,
                {{'W', "W0012", 4, "COM+001",
                  "Invalid character (\"\xC3\x89\") for \"C010:1, X014:1\", found \"\xC3\x89"
                  "COLE\""}}},
               {"length in characters",
                Broker("ADR+001+GROTE "
                       "MARKT:\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89+8000+BRUGGE+B"),
                false,
                {}},
               // Insurer codes: "9000" and an unknown direction are not looked up.
               {"sender 9000", "XGH+1+9000+104512+002'XEH+90+1+0201+1++10'XET+90'XGT+1'", false, {}},
               {"broker to broker", "XGH+1+104512+204512+002'XEH+90+1+0201+1++10'XET+90'XGT+1'", false, {}},
               {"recipient insurer unknown",
                "XGH+1+104512+0777+002'XEH+91+1+0200+1'XET+91'XGT+1'",
                false,
                {{'E', "E0029", 1, "XGH", "Invalid FSMA code \"0777\""}}},
               // A positional message: its free text is segment 3, so the trailer is 4.
               {"positional data counts",
                "XGH+3+0039+104512'XEH+12+1+0201'free 'text\xC3\xBE'XET+ABCDEFG'XGT+1'",
                false,
                {{'E', "E0015", 4, "XET", "Too long value for \"X910:1\", found \"ABCDEFG\", max length = 6"}}},
           });
}

TEST_F(ChecksTest, UnitCountStartsAgainWithEveryMessage) {
  // The second group header fails its own check (X925 999) before it resets the unit count; the
  // message header that follows must still be the first unit of its message.
  TValidator v(Sample());
  Configure(v, true);
  v.SetEdiMessage(Contract("110", "101", "RCBASE"));
  EXPECT_TRUE(v.Validate()) << Describe(All(v));
  v.SetEdiMessage("XGH+1+0039+104512+999'XEH+01+2+0002+1++10'XRH+1'ROD+110'XRH+2'ICD+102'XRT+2'XRT+1'XET+01'XGT+1'");
  v.Validate();
  ExpectFindings(
      v,
      {{'E', "E0009", 1, "XGH", "Invalid value for \"X925:1\", found \"999\""},
       {'E', "E0019", 4, "ROD+110'ICD+102", "Invalid value for \"C095:1, X058:1\", found \"102\" in domain \"10\""}},
      "after a failed group header");
}

// A text handed over as a component string gives the findings of the same text as UTF-8, and
// serves one validation only: validating again after the caller freed it reads the kept copy.
TEST_F(ChecksTest, ComponentTextServesOneValidation) {
  const std::vector<std::string> texts = {
      Insurer("ATT+A020+:::Usage prive'ATT++77"),
      Insurer("NME+001+D\xc3\x89J\xc3\x80 VU:JOS\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89"
              "\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89"
              "\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89"
              "\xc3\x89\xc3\x89\xc3\x89\xc3\x89+001'DTM+001:3201202:001"),
      Contract("110", "101", "RCBASE"),
  };
  for (const std::string& text : texts) {
    TValidator byText(Sample()), byCom(Sample());
    Configure(byText, true);
    Configure(byCom, true);
    byText.SetEdiMessage(text);
    byText.Validate();
    std::vector<Finding> want = All(byText);
    {
      edicom::BStr com(text);
      byCom.SetEdiMessage(com.Get());
      byCom.Validate();
      ExpectFindings(byCom, want, text);
    }
    byCom.Validate();
    ExpectFindings(byCom, want, "again, the component string gone: " + text);
    EXPECT_EQ(byCom.EdiMessage(), text);
  }
}
