// Registry store: .reg round trips, regedit exports, case rules, merged classes, concurrent writers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "Registry.h"
#include "TempHives.h"

using namespace common;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace

TEST(RegistryTest, ValuesRoundTripThroughTheFileIgnoringCase) {
  TempHives hives;
  {
    TRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true));
    reg.WriteString("Referential", "C:\\data\\ref \"new\".mdb");
    reg.WriteInteger("Referential.Sql", 42);
    reg.WriteString("", "default text");
    reg.WriteString("Accents", "\xC3\xA9l\xC3\xA8ve \xE2\x82\xAC");
  }
  TRegistry reg(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly("software\\TARNHOLT\\Services\\database"));
  EXPECT_EQ(reg.ReadString("referential"), "C:\\data\\ref \"new\".mdb");
  EXPECT_EQ(reg.ReadInteger("REFERENTIAL.SQL"), 42);
  EXPECT_TRUE(reg.ReadBool("Referential.Sql"));
  EXPECT_EQ(reg.ReadString(""), "default text");
  EXPECT_EQ(reg.ReadString("Accents"), "\xC3\xA9l\xC3\xA8ve \xE2\x82\xAC");

  std::string text = ReadFile(hives.Machine());
  EXPECT_NE(text.find("\"Referential\"=\"C:\\\\data\\\\ref \\\"new\\\".mdb\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Referential.Sql\"=dword:0000002a"), std::string::npos);
  EXPECT_NE(text.find("@=\"default text\""), std::string::npos);

  // Parsing what was written and writing it again changes nothing.
  THive h("x");
  h.Parse(text);
  EXPECT_EQ(h.Serialize(), text);
}

TEST(RegistryTest, ReadsRegeditExportInUtf16WithContinuationsAndDeletions) {
  TempHives hives;
  std::string utf8 =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; exported\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database]\r\n"
      "\"Referential\"=\"D:\\\\Telebib\\\\Referentiel.mdb\"\r\n"
      "\"Bin\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "this line is garbage\r\n"
      "\"Referential.Sql\"=dword:00000000\r\n"
      "\"Gone\"=\"x\"\r\n"
      "\"Gone\"=-\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"a\"=\"b\"\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : utf8) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  WriteFile(hives.Machine(), utf16);

  testing::internal::CaptureStderr();
  TRegistry reg(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly("SOFTWARE\\tarnholt\\services\\Database"));
  std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find("malformed line skipped"), std::string::npos);
  EXPECT_EQ(reg.ReadString("Referential"), "D:\\Telebib\\Referentiel.mdb");
  EXPECT_FALSE(reg.ReadBool("Referential.Sql"));
  EXPECT_FALSE(reg.ValueExists("Gone"));
  auto bin = reg.GetValue("Bin");
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->Type, TRegValue::rvRaw);
  EXPECT_EQ(bin->Text, "hex:01,02,03,04");
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Old"));
}

TEST(RegistryTest, MissingKeysAndValuesFailCleanly) {
  TempHives hives;
  TRegistry reg(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.OpenKeyReadOnly("SOFTWARE\\nothing"));
  EXPECT_FALSE(reg.KeyExists("SOFTWARE\\nothing"));
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\something", true));
  EXPECT_EQ(reg.ReadString("absent"), "");
  EXPECT_THROW(reg.ReadInteger("absent"), ERegistryException);
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKeyReadOnly("SOFTWARE\\something"));
  EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
}

TEST(RegistryTest, ClassesRootReadsUserOverMachine) {
  TempHives hives;
  {
    TRegistry m(HKEY_LOCAL_MACHINE);
    m.OpenKey("Software\\Classes\\Test.Thing\\CLSID", true);
    m.WriteString("", "{machine}");
    m.OpenKey("Software\\Classes\\Only.Machine\\CLSID", true);
    m.WriteString("", "{only}");
    TRegistry u(HKEY_CURRENT_USER);
    u.OpenKey("Software\\Classes\\Test.Thing\\CLSID", true);
    u.WriteString("", "{user}");
  }
  TRegistry cr(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(cr.OpenKeyReadOnly("test.thing\\clsid"));
  EXPECT_EQ(cr.ReadString(""), "{user}");
  ASSERT_TRUE(cr.OpenKeyReadOnly("Only.Machine\\CLSID"));
  EXPECT_EQ(cr.ReadString(""), "{only}");
}

// Reads keep a parsed copy of each hive; every change to the file, whoever makes it, must show.
TEST(RegistryTest, ReadsSeeEveryChangeOfTheHiveFile) {
  TempHives hives;
  TRegistry reg(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.KeyExists("Software\\A"));
  {
    TRegistry w(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(w.OpenKey("Software\\A\\B", true));
    w.WriteString("V", "1");
  }
  EXPECT_TRUE(reg.KeyExists("software\\a"));  // a parent without a section of its own
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\A\\B"));
  EXPECT_EQ(reg.ReadString("V"), "1");

  // Edited in place by hand: same file, same size, another value.
  std::string text = ReadFile(hives.Machine());
  std::size_t at = text.find("\"V\"=\"1\"");
  ASSERT_NE(at, std::string::npos);
  text[at + 5] = '2';
  WriteFile(hives.Machine(), text);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\A\\B"));
  EXPECT_EQ(reg.ReadString("V"), "2");

  TRegistry d(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(d.DeleteKey("Software\\A"));
  EXPECT_FALSE(reg.OpenKeyReadOnly("Software\\A\\B"));
  EXPECT_FALSE(reg.KeyExists("Software\\A"));

  std::remove(hives.Machine().c_str());
  EXPECT_FALSE(reg.KeyExists("Software"));
}

TEST(RegistryTest, TwoProcessesWritingTheSameHiveLoseNothing) {
  TempHives hives;
  constexpr int kPerProcess = 40;
  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = fork();
    ASSERT_GE(kids[k], 0);
    if (kids[k] == 0) {
      TRegistry reg(HKEY_CURRENT_USER);
      if (!reg.OpenKey("Software\\Solberk\\Verimek", true)) _exit(1);
      for (int i = 0; i < kPerProcess; ++i) reg.WriteInteger("P" + std::to_string(k) + "_" + std::to_string(i), i);
      _exit(0);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    waitpid(kid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRegistry reg(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Solberk\\Verimek"));
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < kPerProcess; ++i)
      EXPECT_EQ(reg.ReadInteger("P" + std::to_string(k) + "_" + std::to_string(i)), i);
}
