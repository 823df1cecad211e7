// Message files kept byte for byte in their encoding, and the search values' write-back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "MessageSearch.h"
#include "Settings.h"
#include "TextFile.h"

namespace fs = std::filesystem;
using namespace verimek;

namespace {

class MessageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("verimek-msgfiles-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    setenv("XDG_CONFIG_HOME", FDir.c_str(), 1);
    ResetSettings();
  }
  void TearDown() override {
    ResetSettings();
    fs::permissions(FDir, fs::perms::owner_all);
    fs::remove_all(FDir);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (FDir / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path FDir;
};

TEST_F(MessageFilesTest, EachEncodingIsDetectedAndWrittenBackByteForByte) {
  const struct {
    const char* Name;
    std::string Bytes;
    TTextEncoding Encoding;
    bool Bom;
    std::u16string Text;
  } cases[] = {
      {"ascii", "XGH+1'\r\nXGT+1'", teUtf8, false, u"XGH+1'\r\nXGT+1'"},
      {"utf8", "NME+H\xC3\xA9l\xC3\xA8ne'", teUtf8, false, u"NME+H\u00E9l\u00E8ne'"},
      {"utf8-bom", "\xEF\xBB\xBFNME+\xE2\x82\xAC'", teUtf8, true, u"NME+\u20AC'"},
      {"cp1252", "NME+H\xE9l\xE8ne \x80 \x81'\n", teAnsi, false, u"NME+H\u00E9l\u00E8ne \u20AC \u0081'\n"},
      {"utf16le", std::string("\xFF\xFE" "A\0\xE9\0", 6), teUtf16LE, true, u"A\u00E9"},
      {"utf16be", std::string("\xFE\xFF\0A\0\xE9", 6), teUtf16BE, true, u"A\u00E9"},
      {"empty", "", teUtf8, false, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Write(c.Name, c.Bytes);
    TTextFile f = LoadTextFile(path);
    EXPECT_EQ(f.Encoding, c.Encoding);
    EXPECT_EQ(f.Bom, c.Bom);
    EXPECT_EQ(f.Text, c.Text);
    fs::remove(path);
    SaveTextFile(path, f.Text, f.Encoding, f.Bom);
    EXPECT_EQ(Read(path), c.Bytes);
    EXPECT_EQ(f.Encoding, c.Encoding);
  }
}

TEST_F(MessageFilesTest, ACharacterTheCodePageLacksIsNotLostOnSave) {
  const std::string path = Write("cp", "NME+H\xE9'");
  TTextFile f = LoadTextFile(path);
  ASSERT_EQ(f.Encoding, teAnsi);
  f.Text += u"\u0141";  // not in Windows-1252
  SaveTextFile(path, f.Text, f.Encoding, f.Bom);
  EXPECT_EQ(f.Encoding, teUtf8);
  EXPECT_EQ(LoadTextFile(path).Text, f.Text);
}

TEST_F(MessageFilesTest, RefusalsAndFailuresNameTheFile) {
  const std::string binary = Write("bin", std::string("XGH\0\x01\x02", 6));
  const std::string big = Write("big", std::string(2048, 'A'));
  const struct {
    std::string Path;
    std::size_t Max;
    const char* Expected;
  } cases[] = {
      {binary, kMaxMessageFileBytes, "is not a text file"},
      {big, 1024, "is too large"},
      {(FDir / "missing").string(), kMaxMessageFileBytes, "Cannot open file"},
  };
  for (const auto& c : cases) {
    try {
      LoadTextFile(c.Path, c.Max);
      ADD_FAILURE() << c.Path << " loaded";
    } catch (const ETextFileError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Expected), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.Path), std::string::npos) << e.what();
    }
  }
  if (geteuid() != 0) {
    const fs::path ro = FDir / "ro";
    fs::create_directories(ro);
    fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    TTextEncoding enc = teUtf8;
    EXPECT_THROW(SaveTextFile((ro / "x.txt").string(), u"A", enc, false), ETextFileError);
    fs::permissions(ro, fs::perms::owner_all);
  }
}

TEST_F(MessageFilesTest, OkMovesTheTextToTheTopAndKeepsTen) {
  TSettings& s = Settings();
  TSearchOptions o = LoadSearchOptions(s);
  EXPECT_TRUE(o.History.empty());
  for (int i = 0; i < 12; ++i) {
    o.Text = "t" + std::to_string(i);
    AcceptSearchOptions(s, o);
  }
  o.Text = "t5";
  o.Backwards = o.Regex = o.WholeWords = true;
  AcceptSearchOptions(s, o);
  ResetSettings();
  const TSearchOptions back = LoadSearchOptions(Settings());
  const std::vector<std::string> expected = {"t5", "t11", "t10", "t9", "t8", "t7", "t6", "t4", "t3", "t2"};
  EXPECT_EQ(back.History, expected);
  EXPECT_EQ(Settings().SearchTextHistory(), "t5\r\nt11\r\nt10\r\nt9\r\nt8\r\nt7\r\nt6\r\nt4\r\nt3\r\nt2");
  EXPECT_EQ(back.Text, "t5");
  EXPECT_TRUE(back.Backwards && back.Regex && back.WholeWords);
  EXPECT_FALSE(back.CaseSensitive || back.SelectionOnly || back.FromCaret);

  // An empty text is written but does not enter the history.
  TSearchOptions empty = back;
  empty.Text.clear();
  AcceptSearchOptions(Settings(), empty);
  EXPECT_EQ(Settings().SearchText(), "");
  EXPECT_EQ(LoadSearchOptions(Settings()).History, expected);
}

}  // namespace
