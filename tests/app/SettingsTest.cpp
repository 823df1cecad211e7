// The per-user settings: defaults on a first start, the ini format, window positions, lists.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Settings.h"

namespace fs = std::filesystem;
using namespace verimek;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FHome = fs::temp_directory_path() / ("verimek-settings-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FHome);
    fs::create_directories(FHome);
    setenv("XDG_CONFIG_HOME", FHome.c_str(), 1);
    ResetSettings();
  }
  void TearDown() override {
    ResetSettings();
    fs::remove_all(FHome);
  }
  std::string IniText() const {
    std::ifstream in(FHome / "Solberk/Verimek/Verimek.ini", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path FHome;
};

TEST_F(SettingsTest, FirstStartUsesTheDefaultsAndCreatesTheFolder) {
  TSettings& s = Settings();
  EXPECT_TRUE(fs::is_directory(FHome / "Solberk/Verimek"));
  EXPECT_FALSE(s.SearchBackwards());
  EXPECT_FALSE(s.SearchTextAtCaret());
  EXPECT_EQ(s.SearchText(), "");
  EXPECT_EQ(s.ReadIntegerDef("SheetFileFrm", "pn_Bottom.Height", 179), 179);
  TWindowPlacement w{TWindowPlacement::wsNormal, 10, 20, 300, 400};
  s.LoadPosition("MainForm", w);
  EXPECT_EQ(w.Top, 10);
  EXPECT_EQ(w.Width, 400);
  s.SavePosition("MainForm", w);
  EXPECT_EQ(IniText(), "[MainForm]\nWindowState=0\nPos=10,20,300,400\n");
}

TEST_F(SettingsTest, BooleansAreOneAndZeroAndAnyNonZeroNumberIsTrue) {
  TSettings& s = Settings();
  s.SetSearchRegex(true);
  s.SetSearchWholeWords(false);
  EXPECT_NE(IniText().find("Regex=1\n"), std::string::npos);
  EXPECT_NE(IniText().find("WholeWords=0\n"), std::string::npos);
  s.WriteString("Search", "CaseSensitive", "-1");
  EXPECT_TRUE(s.SearchCaseSensitive());
  s.WriteString("Search", "CaseSensitive", "yes");  // not a number: the default
  EXPECT_FALSE(s.SearchCaseSensitive());
}

TEST_F(SettingsTest, MaximisedCloseStoresTheStateAndKeepsTheOldPos) {
  Settings().SavePosition("MainForm", {TWindowPlacement::wsNormal, 1, 2, 3, 4});
  Settings().SavePosition("MainForm", {TWindowPlacement::wsMaximized, 50, 60, 70, 80});
  ResetSettings();  // the next start
  TWindowPlacement w{TWindowPlacement::wsNormal, 9, 9, 9, 9};
  Settings().LoadPosition("MainForm", w);
  EXPECT_EQ(w.State, TWindowPlacement::wsMaximized);
  EXPECT_EQ(w.Top, 9);  // a maximised window takes no position
  EXPECT_NE(IniText().find("Pos=1,2,3,4\n"), std::string::npos);
}

TEST_F(SettingsTest, AMalformedPosKeepsTheValuesThatAreNotNumbers) {
  struct TCase {
    const char* Pos;
    TWindowPlacement Want;
  } cases[] = {
      {"5,x,7,8", {0, 5, 2, 7, 8}},
      {"5,6", {0, 5, 6, 3, 4}},
      {",,,", {0, 1, 2, 3, 4}},
      {"garbage", {0, 1, 2, 3, 4}},
      {"1,2,3,99999999999", {0, 1, 2, 3, 4}},
  };
  for (const TCase& c : cases) {
    Settings().WriteString("MainForm", "Pos", c.Pos);
    TWindowPlacement w{TWindowPlacement::wsNormal, 1, 2, 3, 4};
    Settings().LoadPosition("MainForm", w);
    EXPECT_EQ(w.Top, c.Want.Top) << c.Pos;
    EXPECT_EQ(w.Left, c.Want.Left) << c.Pos;
    EXPECT_EQ(w.Height, c.Want.Height) << c.Pos;
    EXPECT_EQ(w.Width, c.Want.Width) << c.Pos;
  }
}

TEST_F(SettingsTest, ValuesReadBackAsWrittenAcrossAStart) {
  const std::string values[] = {
      "one\r\ntwo\r\nthree", "a \"quoted\" text", "\"starts quoted\"", " padded ", "back\\slash\\n", "x=y;z", ""};
  int i = 0;
  for (const std::string& v : values) Settings().WriteString("Search", "K" + std::to_string(i++), v);
  ResetSettings();
  i = 0;
  for (const std::string& v : values) EXPECT_EQ(Settings().ReadStringDef("Search", "K" + std::to_string(i++), "?"), v);
  EXPECT_EQ(IniText().find("true"), std::string::npos);
  EXPECT_NE(IniText().find("K5=x=y;z\n"), std::string::npos);  // plain values are written as they are
}

TEST_F(SettingsTest, AFolderThatCannotBeMadeIsNamedWithTheReason) {
  const fs::path blocker = FHome / "Solberk";
  std::ofstream(blocker) << "a file where the folder should be";
  try {
    Settings();
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    const std::string want = "Create folder \"" + (FHome / "Solberk/Verimek").string() + "\" failed (";
    EXPECT_EQ(std::string(e.what()).rfind(want, 0), 0u) << e.what();
  }
}

TEST_F(SettingsTest, HistoriesKeepTheirFirstTen) {
  TSettings& s = Settings();
  std::vector<std::string> texts, files;
  for (int i = 0; i < 12; ++i) {
    texts.push_back("text " + std::to_string(i));
    files.push_back("/data/in " + std::to_string(i) + ".edi");
  }
  s.SetSearchTextHistory(JoinLines(texts));
  s.SetValidateFileHistory(ToCommaText(files));
  // Replacement texts have no limit.
  s.SetReplaceTextHistory(JoinLines(texts));
  ResetSettings();
  TSettings& again = Settings();
  EXPECT_EQ(SplitLines(again.SearchTextHistory()), std::vector<std::string>(texts.begin(), texts.begin() + 10));
  const std::vector<std::string> stored = FromCommaText(again.ValidateFileHistory());
  EXPECT_EQ(stored, std::vector<std::string>(files.begin(), files.begin() + 10));
  EXPECT_EQ(again.ValidateFileHistory().rfind("\"/data/in 0.edi\",\"/data/in 1.edi\",", 0), 0u);
  EXPECT_EQ(SplitLines(again.ReplaceTextHistory()).size(), 12u);
  // Ten or fewer are stored exactly as given.
  again.SetSearchTextHistory("a\r\nb\r\n");
  EXPECT_EQ(again.SearchTextHistory(), "a\r\nb\r\n");
}

TEST(CommaText, QuotesEntriesWithSpacesCommasAndQuotes) {
  const std::vector<std::string> items = {"/data/in.edi", "/data/my file.edi", "a,b", "say \"hi\"", ""};
  const std::string text = ToCommaText(items);
  EXPECT_EQ(text, "/data/in.edi,\"/data/my file.edi\",\"a,b\",\"say \"\"hi\"\"\",\"\"");
  EXPECT_EQ(FromCommaText(text), items);
  EXPECT_TRUE(FromCommaText("").empty());
}

TEST(LineLists, JoinWithCrLfAndSplitBack) {
  const std::vector<std::string> items = {"UNH", "a b", "XRH"};
  EXPECT_EQ(JoinLines(items), "UNH\r\na b\r\nXRH");
  EXPECT_EQ(SplitLines(JoinLines(items)), items);
  EXPECT_TRUE(SplitLines("").empty());
}

}  // namespace
