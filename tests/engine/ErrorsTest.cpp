#include <gtest/gtest.h>

#include "ecErrors.h"

using namespace ruvala;

namespace {

// Splits comma text the way a reader of the code lists does: quoted entries, doubled quotes.
std::vector<std::string> SplitCommaText(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::string entry;
    if (i < text.size() && text[i] == '"') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            entry.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        entry.push_back(text[i++]);
      }
    } else {
      while (i < text.size() && text[i] != ',') entry.push_back(text[i++]);
    }
    out.push_back(entry);
    if (i >= text.size()) break;
    ++i;  // the comma
  }
  return out;
}

}  // namespace

TEST(Catalogue, FillsTemplatesOnce) {
  struct Case {
    const char* code;
    TFormatArgs args;
    const char* message;
  } cases[] = {
      {"E0002", {}, "Empty Edifact message"},
      {"E0005", {std::int64_t{2}}, "Invalid Edifact message (2 error(s) found)"},
      {"E0009", {std::string("X052:1"), std::string("50%s\"")}, "Invalid value for \"X052:1\", found \"50%s\"\""},
      {"E0012",
       {std::string("0039"), std::string("A020"), std::string("9")},
       "Specific value not allowed in Inter-Application mode, found Oca:\"0039\", vist:\"A020\", value:\"9\""},
      {"E0015",
       {std::string("X003:1"), std::string("1234567890"), std::int64_t{9}},
       "Too long value for \"X003:1\", found \"1234567890\", max length = 9"},
      {"W0012",
       {std::string("/"), std::string("C010:1, X014:1"), std::string("02/1")},
       "Invalid character (\"/\") for \"C010:1, X014:1\", found \"02/1\""},
      // Control characters, NUL included, are escaped: the text is neither cut nor broken.
      {"E0009",
       {std::string("X052:1"), std::string("A\0B\r\n", 5)},
       "Invalid value for \"X052:1\", found \"A\\x00B\\x0D\\x0A\""},
      {"W0012",
       {std::string("\x01"), std::string("C010:1, X014:1"),
        std::string("02\x01"
                    "1")},
       "Invalid character (\"\\x01\") for \"C010:1, X014:1\", found \"02\\x011\""},
  };
  for (const Case& c : cases) {
    TErrorCode r = c.code[0] == 'E' ? GetErrorCode(c.code, c.args) : GetWarningCode(c.code, c.args);
    EXPECT_EQ(r.Code, c.code);
    EXPECT_EQ(r.Message, c.message) << c.code;
  }
}

TEST(Catalogue, CodesAreExactAndTablesSeparate) {
  EXPECT_EQ(GetErrorCode("e0009").Code, "");
  EXPECT_EQ(GetErrorCode("E0000", {std::string("boom")}).Message, "");
  EXPECT_EQ(GetErrorCode("W0001").Code, "");
  EXPECT_EQ(GetWarningCode("E0009").Code, "");
  TErrorCode kept{"X", "kept"};
  EXPECT_EQ(GetErrorCode("E0099", {}, kept).Message, "kept");
}

TEST(Catalogue, CodeListsAreCommaTextOfTheTables) {
  const std::string errors = GetErrorCodeList();
  const std::string warnings = GetWarningCodeList();
  auto e = SplitCommaText(errors);
  auto w = SplitCommaText(warnings);
  ASSERT_EQ(e.size(), 29u);
  ASSERT_EQ(w.size(), 12u);
  for (int i = 0; i < 29; ++i) EXPECT_EQ(e[i], ErrorTable[i].Code + "=" + ErrorTable[i].Message);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(w[i], WarningTable[i].Code + "=" + WarningTable[i].Message);
  EXPECT_EQ(errors.substr(0, 46), "\"E0001=Exception %s\",\"E0002=Empty Edifact mess");
  EXPECT_NE(errors.find("\"E0007=Value required for \"\"%s\"\"\""), std::string::npos);
  EXPECT_EQ(e[11],
            "E0012=Specific value not allowed in Inter-Application mode, found Oca:\"%s\", vist:\"%s\", value:\"%s\"");
  EXPECT_EQ(CommaTextEntry("A=b"), "A=b");
  EXPECT_EQ(CommaTextEntry("a,b"), "\"a,b\"");
}

TEST(Catalogue, ObsoleteTemplatesSayObsolete) {
  // GetFirstError relies on the word: every template about an out-of-date entry carries it.
  for (const char* code : {"W0001", "W0002", "W0005", "W0008", "W0010", "W0011"})
    EXPECT_NE(GetWarningCode(code).Message.find("Obsolete"), std::string::npos) << code;
}

TEST(Exceptions, CarryTheirRecordAndClass) {
  try {
    throw ETelebibWarning(ErrorCode("E0009", "X052:1", "998"));
  } catch (const ETelebibError& e) {
    EXPECT_NE(dynamic_cast<const ETelebibWarning*>(&e), nullptr);
    EXPECT_EQ(e.ErrorCode.Code, "E0009");
    EXPECT_STREQ(e.what(), "Invalid value for \"X052:1\", found \"998\"");
  }
  static_assert(!std::is_constructible_v<ETelebibError, std::string>);
  static_assert(!std::is_constructible_v<ETelebibError, const char*>);
}

TEST(Lists, FirstErrorAndObsoleteOnly) {
  TEdiErrorList list;
  EXPECT_TRUE(list.ObsoleteOnly());
  EXPECT_EQ(list.GetFirstError(), nullptr);
  list.Add(5, "ATT+A020", WarningCode("W0001", "C005:1, X011:1", "9"));
  EXPECT_TRUE(list.ObsoleteOnly());
  EXPECT_EQ(list.GetFirstError(), nullptr);
  list.Add(7, "ROD+", {std::string("X052:1"), std::string("77")}, GetErrorCode("E0009"));
  EXPECT_FALSE(list.ObsoleteOnly());
  ASSERT_NE(list.GetFirstError(), nullptr);
  EXPECT_EQ(list.GetFirstError()->Error.Code, "E0009");
  EXPECT_EQ(list.GetItems(1).ToString(), "Segment #7, ROD+, E0009, Invalid value for \"X052:1\", found \"77\"");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_THROW(list.GetItems(2), std::out_of_range);
  EXPECT_THROW(list.GetItems(-1), std::out_of_range);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(SegmentKey, FollowsTheTreeLevels) {
  std::vector<TKeyPiece> levels(11);
  levels[2] = {"ICD", "1"};
  levels[3] = {"IFD", "2"};
  levels[4] = {"DTM", ""};
  EXPECT_EQ(MakeSegmentKey(0, "XGH", levels), "XGH");
  EXPECT_EQ(MakeSegmentKey(1, "XEH", levels), "XEH");
  EXPECT_EQ(MakeSegmentKey(2, "ICD", levels), "ICD+1");
  EXPECT_EQ(MakeSegmentKey(3, "IFD", levels), "ICD+1'IFD+2");
  EXPECT_EQ(MakeSegmentKey(4, "DTM", levels), "ICD+1'IFD+2'DTM+");
}
