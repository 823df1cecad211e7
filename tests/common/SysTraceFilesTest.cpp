// The text and CSV file sinks: names, rotation, clean-up, lines, headers, failures, and two
// processes appending to one file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "SysTrace.h"
#include "SysTraceFiles.h"
#include "TraceTestSupport.h"

using namespace common;
using tracetest::gNow;
using tracetest::kBar;
using tracetest::kBarAnsi;
using tracetest::TraceTest;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class TraceFileTest : public TraceTest {
 protected:
  // A text file sink writing into the test folder under the module name "libruvala.so".
  template <class Sink = TTextFile>
  std::unique_ptr<Sink> MakeSink() {
    auto s = std::make_unique<Sink>();
    s->SetModuleName("libruvala.so");
    s->SetOutputDir(FDir);
    s->SetActive(true);
    return s;
  }
};

}  // namespace

TEST(TraceFileNames, ModuleBaseNames) {
  struct Case {
    const char* Module;
    const char* FileBase;
    const char* CleanUpBase;
  } cases[] = {
      {"libruvala.so", "libruvala", "libruvala"},
      {"libruvala.so.1.0.0", "libruvala", "libruvala"},
      {"LIBRUVALA.SO", "LIBRUVALA", "LIBRUVALA"},
      {"libsoap.so", "libsoap", "libsoap"},  // ".so" inside a word is not the suffix
      {"verimek-cli", "verimek-cli", "verimek-cli"},
      {"Verimek.exe", "Verimek.exe", "Verimek"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Module);
    EXPECT_EQ(TraceFileBaseName(c.Module), c.FileBase);
    EXPECT_EQ(TraceCleanUpBaseName(c.Module), c.CleanUpBase);
  }
  EXPECT_EQ(RefreshRateFromName("HOURLY"), rrHourly);
  EXPECT_EQ(RefreshRateFromName("monthly"), rrUnknown);
  EXPECT_EQ(NameFormatFromName("Date_Name"), nfDateName);
  EXPECT_EQ(NameFormatFromName("whatever"), nfNameDate);
}

TEST_F(TraceFileTest, FileNamePerRotationAndOrder) {
  auto f = MakeSink();
  gNow = {2012, 1, 10, 7, 0, 0, 0};
  struct Case {
    TRefreshRate Rate;
    TNameFormat Order;
    const char* Extension;
    const char* Name;
  } cases[] = {
      {rrDaily, nfNameDate, "log", "libruvala_20120110.log"},
      {rrDaily, nfDateName, "log", "20120110_libruvala.log"},
      {rrHourly, nfNameDate, "log", "libruvala_20120110_7.log"},
      {rrHourly, nfDateName, "txt", "20120110_7_libruvala.txt"},
      {rrWeekly, nfNameDate, "log", "libruvala_2.log"},
      {rrWeekly, nfDateName, "log", "2_libruvala.log"},
      {rrUnknown, nfNameDate, "log", "libruvala_20120110.log"},  // falls back to daily
      {rrDaily, nfNameDate, ".log", "libruvala_20120110.log"},   // extension stored with its dot
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    f->SetRefreshRate(c.Rate);
    f->SetNameFormat(c.Order);
    f->SetExtension(c.Extension);
    EXPECT_EQ(f->GetFileName(), FDir + c.Name);
  }
}

TEST_F(TraceFileTest, LinesInTheFile) {
  auto f = MakeSink();
  f->Write("TDoc", "Validate()", ttInformation);
  f->Write("", "bare message", ttWarning);
  f->Write("TDoc", "two\r\nlines\nhere, #10 and #13 stay", ttError);
  f->Write("TDoc", "caf\xC3\xA9", ttDebug);  // UTF-8 in, code page out
  f->Write("TDoc", "not wanted", ttReporting);
  std::string want = "10/01/2012" + kBarAnsi + "09:05:03" + kBarAnsi + "TDoc" + kBarAnsi + "Validate()\r\n" +
                     "bare message\r\n" + "10/01/2012" + kBarAnsi + "09:05:03" + kBarAnsi + "TDoc" + kBarAnsi +
                     "two lines here, #10 and #13 stay\r\n" + "10/01/2012" + kBarAnsi + "09:05:03" + kBarAnsi + "TDoc" +
                     kBarAnsi + "caf\xE9\r\n";
  EXPECT_EQ(ReadFile(FDir + "libruvala_20120110.log"), want);
  EXPECT_TRUE(Events().empty());
}

TEST_F(TraceFileTest, MidnightRollsOverToANewFileMutexAndCleanUp) {
  auto f = MakeSink();
  f->SetKeep(1);
  WriteFile(FDir + "libruvala_20120101.log", "old\r\n");
  Age(FDir + "libruvala_20120101.log", 86400 * 9);
  gNow = {2012, 1, 10, 23, 59, 59, 999};
  f->Write("A", "before", ttInformation);
  ASSERT_NE(f->MutexWrite(), nullptr);
  std::string firstMutex = f->MutexWrite()->Name();
  EXPECT_EQ(firstMutex, "Global\\" + Lower(FDir) + "libruvala_20120110.log");
  EXPECT_TRUE(Exists(FDir + "libruvala_20120101.log"));  // the first record is no rollover
  gNow = {2012, 1, 11, 0, 0, 0, 0};
  f->Write("A", "after", ttInformation);
  EXPECT_NE(ReadFile(FDir + "libruvala_20120110.log").find("before"), std::string::npos);
  EXPECT_NE(ReadFile(FDir + "libruvala_20120111.log").find("after"), std::string::npos);
  EXPECT_EQ(f->MutexWrite()->Name(), "Global\\" + Lower(FDir) + "libruvala_20120111.log");
  // The clean-up ran before the new file existed: of the two older files, Keep = 1 leaves the newer.
  EXPECT_FALSE(Exists(FDir + "libruvala_20120101.log"));
  EXPECT_TRUE(Exists(FDir + "libruvala_20120110.log"));
}

TEST_F(TraceFileTest, CleanUpKeepsTheNewestQualifyingFiles) {
  auto f = MakeSink();
  f->SetKeep(2);
  const char* qualifying[] = {"libruvala_20120101.log", "libruvala_20120102.log", "libruvala.log",
                              "LIBRUVALA_20120104.LOG", "libruvala_20120105.log"};
  long age = 5 * 86400;
  for (const char* n : qualifying) {
    WriteFile(FDir + n, "x");
    Age(FDir + n, age);
    age -= 86400;
  }
  const char* others[] = {"20120101_libruvala.log", "libruvala_20120101.txt", "libruvalax_1.log", "my_libruvala_1.log",
                          // another program's file with "_" right after as many characters as the module name
                          "otherprog_libruvala.log", "libruvala_dir.log"};
  for (const char* n : others) {
    if (std::string(n) == "libruvala_dir.log")
      mkdir((FDir + n).c_str(), 0755);
    else
      WriteFile(FDir + n, "x");
    Age(FDir + n, 30 * 86400);
  }
  f->CleanFiles();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Exists(FDir + qualifying[i]), i >= 3) << qualifying[i];
  for (const char* n : others) EXPECT_TRUE(Exists(FDir + n)) << n;
  EXPECT_TRUE(Events().empty());
}

TEST_F(TraceFileTest, UnreachableFolderGivesOneErrorPerRecord) {
  auto f = MakeSink();
  f->SetOutputDir(FDir + "missing/deeper");
  f->Write("A", "one", ttInformation);
  f->Write("", "two", ttInformation);
  auto ev = Events();
  ASSERT_EQ(ev.size(), 2u);
  std::string file = FDir + "missing/deeper/libruvala_20120110.log";
  EXPECT_EQ(ev[0].Type, etError);
  EXPECT_EQ(ev[0].Text.rfind("TTextFile.Write \"10/01/2012" + kBar + "09:05:03" + kBar + "A" + kBar +
                                 "one\" to file \"" + file + "\" failed (Cannot open file",
                             0),
            0u)
      << ev[0].Text;
  EXPECT_EQ(ev[1].Text.rfind("TTextFile.Write \"two\" to file \"" + file + "\" failed (", 0), 0u) << ev[1].Text;
}

TEST_F(TraceFileTest, MutexTimeOutDropsTheRecord) {
  auto f = MakeSink();
  f->SetMutexATO(20);
  std::string file = FDir + "libruvala_20120110.log";
  TMutex holder(Lower(file), /*AGlobal=*/true);  // the name the sink uses for this file
  ASSERT_TRUE(holder.Acquire(1000));
  std::thread([&] { f->Write("A", "blocked", ttInformation); }).join();
  holder.Release();
  EXPECT_FALSE(Exists(file));
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_NE(Events()[0].Text.find("\" to file \"" + file + "\" failed (Timeout)"), std::string::npos)
      << Events()[0].Text;
  // A TMutex of another name is independent.
  TMutex other("something else", false);
  EXPECT_EQ(other.Name(), "something else");
  EXPECT_TRUE(other.Acquire(0));
  other.Release();
}

TEST_F(TraceFileTest, CsvHeaderSeparatorAndReportingOnly) {
  auto csv = MakeSink<TCsvFile>();
  csv->SetIncludeTime(false);
  csv->SetColumns({"a", "b"});
  EXPECT_EQ(csv->Header(), "Date" + kBar + "a" + kBar + "b");
  std::string file = FDir + "libruvala_20120110.log";
  WriteFile(file, "Date" + kBarAnsi + "a" + kBarAnsi + "b\r\n");  // the file already has a header
  csv->Write("ignored sender", "1" + kBar + "2", ttReporting);
  csv->Write("x", "not reporting", ttInformation);
  csv->Write("x", "3" + kBar + "4", ttReporting);
  const std::string row = "10/01/2012" + kBarAnsi;
  EXPECT_EQ(ReadFile(file), "Date" + kBarAnsi + "a" + kBarAnsi + "b\r\n" + "Date" + kBarAnsi + "a" + kBarAnsi +
                                "b\r\n" + row + "1" + kBarAnsi + "2\r\n" + row + "3" + kBarAnsi + "4\r\n");

  struct Case {
    const char* Seperator;
    std::string Line;
  } cases[] = {{";", "10/01/2012;a;b\r\n"}, {"::", "10/01/2012::a" + kBarAnsi + "b\r\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Seperator);
    std::remove(file.c_str());
    auto sep = MakeSink<TCsvFile>();
    sep->SetIncludeHeader(false);
    sep->SetIncludeTime(false);
    sep->SetSeperator(c.Seperator);
    sep->Write("", "a" + kBar + "b", ttReporting);
    EXPECT_EQ(ReadFile(file), c.Line);
  }
}

TEST_F(TraceFileTest, DefaultOutputDirFallsBackToTmp) {
  const char* old = getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", (FDir + "no-such-folder").c_str(), 1);
  std::string dir = TTextFile::GetDefaultOutputDir();
  if (old)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
  EXPECT_EQ(dir, "/tmp/");
  ASSERT_EQ(Events().size(), 1u);
  EXPECT_EQ(Events()[0].Type, etWarning);
  EXPECT_EQ(Events()[0].Text,
            "TTextFile.GetDefaultOutputDir GetTemporaryPath failed (GetTemporaryPath failed (No such file or "
            "directory (0x2)))");
}

// Two processes append to one file at once; every line must come out whole.
TEST_F(TraceFileTest, TwoProcessesNeverTearALine) {
  const int kLines = 300;
  const std::string pad(3000, 'x');  // long lines: a line written in pieces would show
  auto writeAll = [&](const char* who) {
    TTextFile f;
    f.SetModuleName("libruvala.so");
    f.SetOutputDir(FDir);
    f.SetMutexATO(10000);
    f.SetActive(true);
    for (int i = 0; i < kLines; ++i) f.Write(who, std::to_string(i) + pad, ttInformation);
  };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    writeAll("child");
    _exit(0);
  }
  writeAll("parent");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  std::string text = ReadFile(FDir + "libruvala_20120110.log");
  std::set<std::string> seen;
  std::size_t start = 0, count = 0;
  const std::string prefix = "10/01/2012" + kBarAnsi + "09:05:03" + kBarAnsi;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(start, end - start);
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << "line " << count;
    ASSERT_EQ(line.substr(line.size() - pad.size()), pad) << "line " << count;
    std::string who = line.substr(prefix.size(), line.size() - prefix.size() - pad.size());
    ASSERT_TRUE(who.rfind("child" + kBarAnsi, 0) == 0 || who.rfind("parent" + kBarAnsi, 0) == 0) << who;
    seen.insert(who);
    start = end + 2;
    ++count;
  }
  EXPECT_EQ(count, 2u * kLines);
  EXPECT_EQ(seen.size(), 2u * kLines);  // every record of both writers, once
  EXPECT_TRUE(seen.count("child" + kBarAnsi + "0") && seen.count("parent" + kBarAnsi + std::to_string(kLines - 1)));
}
