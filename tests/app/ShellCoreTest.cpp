// The widget-free parts of the main window: the recent-files list and its registry values, the
// referential names, the version notes and the rows of the about box.
#include <dlfcn.h>
#include <edicom/EdiComCpp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "MruList.h"
#include "UModuleInfo.h"
#include "UTelebib.h"
#include "registry/Registry.h"

namespace fs = std::filesystem;
using namespace verimek;

namespace {

const std::string kBin = EDI_BINARY_DIR;

fs::path TempDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("verimek-shellcore-" + std::to_string(getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

bool RegisterLibrary(const std::string& name) {
  const std::string lib = kBin + "/lib/" + name;
  void* h = fs::exists(lib) ? dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  return reg && edicom::SUCCEEDED(reg());
}

// Both hives in a temporary folder, the engine pointed at the sample referential, both
// components registered.
class Hives : public ::testing::Environment {
 public:
  static inline bool Registered = false;
  void SetUp() override {
    ::setenv("TARNHOLT_MACHINE_HIVE", (TempDir() / "machine.reg").c_str(), 1);
    ::setenv("TARNHOLT_USER_HIVE", (TempDir() / "user.reg").c_str(), 1);
    common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
    if (reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true))
      reg.WriteString("Referential", kBin + "/data/referential.db");
    Registered = RegisterLibrary("libkalvix.so") && RegisterLibrary("libruvala.so");
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    fs::remove_all(TempDir());
  }
};

::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new Hives);

std::string MakeFile(const std::string& name) {
  const fs::path p = TempDir() / name;
  std::ofstream(p) << "x";
  return p.string();
}

// ---- recent files

class MruTest : public ::testing::Test {
 protected:
  const std::string FKey =
      "Software\\Solberk\\VerimekTest\\" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
  void Store(const std::vector<std::pair<std::string, std::string>>& texts, int count) {
    common::TRegistry reg(common::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(FKey, true));
    reg.WriteInteger("Mru_Count", count);
    for (const auto& [name, value] : texts) reg.WriteString(name, value);
  }
};

TEST(MruRules, SwapRuleNewOnTopAndTen) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Before;
    std::string Added;
    std::vector<std::string> After;
  };
  const TCase cases[] = {
      {"new name on top", {"a", "b"}, "c", {"c", "a", "b"}},
      {"position 3 swaps with 0", {"a", "b", "c", "d", "e"}, "d", {"d", "b", "c", "a", "e"}},
      {"position 0 stays", {"a", "b"}, "a", {"a", "b"}},
      {"case is ignored, the stored spelling kept", {"/x/A.edi", "/x/b"}, "/x/b", {"/x/b", "/x/A.edi"}},
      {"case is ignored", {"/x/A.edi", "/x/b"}, "/X/a.EDI", {"/x/A.edi", "/x/b"}},
      {"eleventh pushed out",
       {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
       "n",
       {"n", "1", "2", "3", "4", "5", "6", "7", "8", "9"}},
  };
  for (const TCase& c : cases) {
    TMruList list;
    for (auto it = c.Before.rbegin(); it != c.Before.rend(); ++it) list.Add(*it);
    ASSERT_EQ(list.Items(), c.Before) << c.Name;
    list.Add(c.Added);
    EXPECT_EQ(list.Items(), c.After) << c.Name;
  }
}

TEST_F(MruTest, SavedAndLoadedInOrderDeletedFilesDropped) {
  const std::string a = MakeFile("mru a.edi"), b = MakeFile("mru-b.edi"), gone = MakeFile("mru-gone.edi");
  {
    TMruList list;
    list.Load(FKey);
    EXPECT_TRUE(list.Items().empty());
    list.Add(b);
    list.Add(gone);
    list.Add(a);
    list.Save();
  }
  common::TRegistry reg(common::HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKeyReadOnly(FKey));
  EXPECT_EQ(reg.ReadInteger("Mru_Count"), 3);
  EXPECT_EQ(reg.ReadString("Mru_0"), a);
  EXPECT_EQ(reg.ReadString("Mru_2"), b);
  fs::remove(gone);
  TMruList next;
  next.Load(FKey);
  EXPECT_EQ(next.Items(), (std::vector<std::string>{a, b}));
}

TEST_F(MruTest, WrongTypesAreSkippedAndANeverLoadedListWritesNothing) {
  const std::string a = MakeFile("mru-types.edi");
  Store({{"Mru_0", a}, {"Mru_2", a + ".missing"}}, 4);
  {
    common::TRegistry reg(common::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(FKey, false));
    reg.WriteInteger("Mru_1", 7);  // a number where a name belongs
  }
  TMruList list;
  list.Load(FKey);
  EXPECT_EQ(list.Items(), std::vector<std::string>{a});

  Store({{"Mru_Count", "many"}, {"Mru_0", a}}, 0);
  {
    common::TRegistry reg(common::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(FKey, false));
    reg.WriteString("Mru_Count", "many");
  }
  list.Load(FKey);
  EXPECT_TRUE(list.Items().empty());

  TMruList unloaded;
  unloaded.Add(a);
  unloaded.Save();
  common::TRegistry reg(common::HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKeyReadOnly(FKey));
  EXPECT_EQ(reg.ReadString("Mru_Count"), "many");
}

TEST_F(MruTest, AHugeCountDoesNotWalkBeyondTheValues) {
  const std::string a = MakeFile("mru-huge.edi");
  Store({{"Mru_0", a}}, 2147483647);
  TMruList list;
  list.Load(FKey);
  EXPECT_EQ(list.Items(), std::vector<std::string>{a});
}

TEST_F(MruTest, AKeyThatCannotBeWrittenIsNamed) {
  // A hive whose file lies in a folder that is a plain file cannot take the key.
  const std::string old = std::getenv("TARNHOLT_USER_HIVE");
  const std::string blocker = MakeFile("not-a-folder");
  ::setenv("TARNHOLT_USER_HIVE", (blocker + "/user.reg").c_str(), 1);
  TMruList list;
  list.Load(FKey);
  list.Add(blocker);
  try {
    list.Save();
    ADD_FAILURE() << "saved into a hive that cannot exist";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("Registry open key failed (" + FKey + ")"), std::string::npos) << e.what();
  }
  ::setenv("TARNHOLT_USER_HIVE", old.c_str(), 1);
}

// ---- referential names

std::string MakeNamesDb(const std::string& name, const char* sql) {
  const std::string path = (TempDir() / name).string();
  fs::remove(path);
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
  return path;
}

const char* const kSmallNames =
    "CREATE TABLE A_DE_QUALIFIANT (DE TEXT, Version INTEGER, Qualifiant TEXT, \"lbc-1\" TEXT, \"lbc-4\" TEXT);"
    "INSERT INTO A_DE_QUALIFIANT VALUES ('X912','1','0005','fr five','five');"
    "INSERT INTO A_DE_QUALIFIANT VALUES ('X912',1,'12345','fr big','big');"
    "INSERT INTO A_DE_QUALIFIANT VALUES ('X912',2,'0006','fr v2','version two');"
    "INSERT INTO A_DE_QUALIFIANT VALUES ('X916',1,'AB','fr ab','ab label');"
    "INSERT INTO A_DE_QUALIFIANT VALUES ('X916',1,'ab ','fr lower','lower with blank');"
    "INSERT INTO A_DE_QUALIFIANT VALUES ('X911',1,'CD','fr cd','other element');";

TEST(Names, ConnectionTextReplacesTheNameInAnyCase) {
  EXPECT_EQ(TTelebibDataModule::ConnectionText("/srv/ref/Referentiel.mdb"),
            "Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";User ID=Admin;Data Source=/srv/ref/Referentiel.mdb;"
            "Mode=Share Deny None");
  // A name that would cut the text apart is quoted.
  EXPECT_NE(TTelebibDataModule::ConnectionText("/a;b/r.db").find("Data Source=\"/a;b/r.db\";"), std::string::npos);
}

TEST(Names, LookUpsInASmallReferential) {
  TTelebibDataModule names;
  EXPECT_EQ(names.Language(), 4);
  EXPECT_FALSE(names.Connected());
  names.Connect(MakeNamesDb("names with space.db", kSmallNames));
  EXPECT_TRUE(names.Connected());
  struct TCase {
    int X912;
    const char* Label;  // nullptr: not found
  };
  for (const TCase& c : {TCase{5, "five"}, TCase{12345, "big"}, TCase{6, nullptr}, TCase{7, nullptr}}) {
    if (c.Label) {
      EXPECT_EQ(names.X912ToStr(c.X912), c.Label) << c.X912;
      continue;
    }
    try {
      names.X912ToStr(c.X912);
      ADD_FAILURE() << c.X912;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), "X912ToStr(" + std::to_string(c.X912) + ") failed (not found)");
    }
  }
  EXPECT_EQ(names.X916ToStr("AB"), "ab label");
  EXPECT_EQ(names.X916ToStr("ab "), "lower with blank");
  for (const char* code : {"ab", "CD", "A", ""}) {
    try {
      names.X916ToStr(code);
      ADD_FAILURE() << code;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), std::string("X916ToStr(") + code + ") failed (not found)");
    }
  }
  names.SetLanguage(1);
  EXPECT_EQ(names.X912ToStr(5), "fr five");
  names.Disconnect();
  EXPECT_FALSE(names.Connected());
  EXPECT_THROW(names.X912ToStr(5), std::runtime_error);
}

TEST(Names, TheSharedReferentialInBothFormats) {
  const std::string files[] = {kBin + "/data/referential.db",
                               std::string(EDI_SHARED_DIR) + "/fixtures/access/referential.mdb"};
  for (const std::string& file : files) {
    if (!fs::exists(file)) GTEST_SKIP() << file;
    TTelebibDataModule names;
    names.Connect(file);
    EXPECT_FALSE(names.X912ToStr(1).empty()) << file;
    // 95 exists only as Version 2.
    try {
      names.X916ToStr("95");
      ADD_FAILURE() << file;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), "X916ToStr(95) failed (not found)");
    }
  }
}

TEST(Names, AFailedConnectLeavesTheModuleDisconnected) {
  const std::string noTable = MakeNamesDb("no-table.db", "CREATE TABLE other (a TEXT);");
  const std::string noLabel = MakeNamesDb(
      "no-label.db", "CREATE TABLE A_DE_QUALIFIANT (DE TEXT, Version INTEGER, Qualifiant TEXT, \"lbc-1\" TEXT);");
  for (const std::string& file : {std::string("/nonexistent/ref.mdb"), noTable, noLabel}) {
    TTelebibDataModule names;
    names.Connect(MakeNamesDb("good.db", kSmallNames));
    EXPECT_ANY_THROW(names.Connect(file)) << file;
    EXPECT_FALSE(names.Connected()) << file;
    EXPECT_THROW(names.X912ToStr(5), std::runtime_error) << file;
  }
  TTelebibDataModule names;
  try {
    names.Connect(noLabel);
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("lbc-4"), std::string::npos) << e.what();
  }
}

// ---- version notes and the about box

TEST(VersionNote, EveryDeliverableCarriesItsVersion) {
  const std::string files[] = {kBin + "/lib/libkalvix.so", kBin + "/lib/libruvala.so", kBin + "/bin/verimek",
                               kBin + "/bin/verimek-cli", kBin + "/lib/libedicom.so"};
  for (const std::string& file : files) {
    if (!fs::exists(file)) continue;  // built on demand; at least the components are needed here
    auto info = ReadFileVersionInfo(file);
    ASSERT_TRUE(info.has_value()) << file;
    EXPECT_EQ(info->NumericText(), "1.0.0.0") << file;
    EXPECT_EQ(info->String("FileVersion"), "1.0.0") << file;
    EXPECT_EQ(info->String("ProductName"), "Verimek") << file;
    EXPECT_FALSE(info->String("Comments").empty()) << file;
    EXPECT_EQ(info->String("NoSuchKey"), "") << file;
  }
  ASSERT_TRUE(fs::exists(kBin + "/lib/libkalvix.so"));
}

TEST(VersionNote, FilesWithoutOrWithADamagedNote) {
  const std::string text = MakeFile("plain.txt");
  EXPECT_FALSE(ReadFileVersionInfo(text).has_value());
  EXPECT_EQ(NumericFileVersion(text), "");
  EXPECT_FALSE(ReadFileVersionInfo("/proc/self/exe").has_value());  // this test has no note
  try {
    ReadFileVersionInfo("/nonexistent/file.so");
    ADD_FAILURE();
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("GetFileVersionInfo for \"/nonexistent/file.so\" failed (", 0), 0u);
  }

  // The note's descriptor size pointed past its section.
  std::ifstream in(kBin + "/lib/libkalvix.so", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string owner("Verimek\0", 8);
  std::size_t at = bytes.find(owner);
  while (at != std::string::npos && (at < 12 || bytes.compare(at - 12, 4, std::string("\x08\0\0\0", 4)) != 0))
    at = bytes.find(owner, at + 1);
  ASSERT_NE(at, std::string::npos);
  bytes[at - 8 + 3] = '\x7f';
  const std::string damaged = (TempDir() / "damaged.so").string();
  std::ofstream(damaged, std::ios::binary) << bytes;
  try {
    ReadFileVersionInfo(damaged);
    ADD_FAILURE();
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("VerQueryValue for \"" + damaged + "\" failed (", 0), 0u) << e.what();
  }
  // Cut short: the section headers lie beyond the end.
  const std::string cut = (TempDir() / "cut.so").string();
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, 4096);
  EXPECT_ANY_THROW(ReadFileVersionInfo(cut));
}

TEST(ModuleInfo, TheProgramItselfAndAnyFile) {
  TModuleInfo self;
  EXPECT_EQ(self.FullName(), fs::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(self.Folder() + self.FileName(), self.FullName());
  EXPECT_EQ(self.Version(), "");
  TModuleInfo kalvix(kBin + "/lib/libkalvix.so");
  EXPECT_EQ(kalvix.FileName(), "libkalvix.so");
  EXPECT_EQ(kalvix.Folder(), kBin + "/lib/");
  EXPECT_EQ(kalvix.Version(), "1.0.0");
  EXPECT_EQ(ProgramVersionText("/nonexistent/verimek"), "File not found");
  EXPECT_EQ(ProgramCommentsText("/nonexistent/verimek"), "File not found");
  EXPECT_EQ(ProgramVersionText(kBin + "/lib/libkalvix.so"), "1.0.0.0");
  EXPECT_EQ(ProgramCommentsText(kBin + "/lib/libkalvix.so"), "Telebib2 EDIFACT parser and message objects");
}

TEST(AboutRows, ComponentsThroughTheClassRegistry) {
  ASSERT_TRUE(Hives::Registered);
  const TModuleRow kalvix = ComponentRow(kComponents[0]);
  EXPECT_EQ(kalvix.Name, "libkalvix.so");
  EXPECT_EQ(kalvix.Path, kBin + "/lib/");
  EXPECT_EQ(kalvix.Version, "1.0.0.0");

  common::TRegistry reg(common::HKEY_CLASSES_ROOT);
  const std::string noClsidKey = "Test.NoClsidKey", badClsid = "Test.BadClsid", noServer = "Test.NoServer";
  const std::string orphan = "{00000000-0000-0000-0000-0000000000AA}", bare = "{00000000-0000-0000-0000-0000000000BB}";
  ASSERT_TRUE(reg.OpenKey(noClsidKey, true));
  reg.WriteString("", "no clsid subkey");
  ASSERT_TRUE(reg.OpenKey(badClsid + "\\CLSID", true));
  reg.WriteString("", orphan);
  ASSERT_TRUE(reg.OpenKey(noServer + "\\CLSID", true));
  reg.WriteString("", bare);
  ASSERT_TRUE(reg.OpenKey("CLSID\\" + bare, true));
  reg.WriteString("", "a class without its server");
  struct TCase {
    std::string ProgId, Version;
  };
  const TCase cases[] = {
      {"Test.NotRegistered", "progid \"Test.NotRegistered\" not found"},
      {noClsidKey, "Open registry key \"Test.NoClsidKey\\clsid\" failed"},
      {badClsid, "clsid \"" + orphan + "\" not found"},
      {noServer, "Value of \"InprocServer32\" not found (clsid=" + bare + ")"},
  };
  for (const TCase& c : cases) {
    const TModuleRow row = ComponentRow({"libtest.so", c.ProgId.c_str()});
    EXPECT_EQ(row.Name, "libtest.so");
    EXPECT_EQ(row.Path, "") << c.ProgId;
    EXPECT_EQ(row.Version, c.Version);
  }
}

TEST(AboutRows, LibraryAndReferential) {
  const TModuleRow sqlite = LibraryRow(kSqliteLibrary);
  EXPECT_EQ(sqlite.Name, "libsqlite3.so.0");
  EXPECT_FALSE(sqlite.Path.empty());
  EXPECT_TRUE(fs::exists(sqlite.Path + "libsqlite3.so.0")) << sqlite.Path;
  EXPECT_EQ(sqlite.Version, sqlite3_libversion());
  const TModuleRow missing = LibraryRow("libnot-there-at-all.so.9");
  EXPECT_EQ(missing.Path, "");
  EXPECT_EQ(missing.Version.rfind("Load failed: ", 0), 0u);
  EXPECT_NE(missing.Version.find("libnot-there-at-all.so.9"), std::string::npos);

  ASSERT_TRUE(Hives::Registered);
  const TModuleRow ref = ReferentialRow(TComponentFactory::ByClassId().CreateDocument);
  EXPECT_EQ(ref.Name, "Referential");
  EXPECT_EQ(ref.Path, kBin + "/data/referential.db");
  EXPECT_EQ(ref.Version, "2.02.611.01");
  const TModuleRow failed =
      ReferentialRow([]() -> edicom::ComPtr<ruvala::IEdiDocument> { throw std::runtime_error("engine missing"); });
  EXPECT_EQ(failed.Path, "");
  EXPECT_EQ(failed.Version, "engine missing");

  const auto rows = ModuleRows(TComponentFactory::ByClassId().CreateDocument);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1].Name, "libruvala.so");
  EXPECT_EQ(rows[1].Version, "1.0.0.0");
  EXPECT_EQ(rows[2].Name, "libsqlite3.so.0");
  EXPECT_EQ(rows[3].Name, "Referential");
}

}  // namespace
