// verimek-cli as other programs meet it: results on standard output that are complete or the
// status says otherwise, diagnostics on standard error one whole line at a time, memory and
// disk exhaustion and signals ending a run cleanly. Real components, sample referential.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../common/TempHives.h"
#include "Platform.h"

namespace {

namespace fs = std::filesystem;

const std::string kLib = std::string(EDI_BINARY_DIR) + "/lib/";
const std::string kCli = std::string(EDI_BINARY_DIR) + "/bin/verimek-cli";
const std::string kReferential = std::string(EDI_BINARY_DIR) + "/data/referential.db";
const std::string kSample = std::string(EDI_SOURCE_DIR) + "/data/samples/with-findings.txt";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // reserves terabytes of shadow: no address-space limit fits
#else
constexpr bool kSanitized = false;
#endif

struct Result {
  int Status;
  std::string Out, Err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  return lines;
}

class CliContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& f : {kLib + "libkalvix.so", kLib + "libruvala.so", kReferential, kSample})
      if (!common::FileExists(f)) GTEST_SKIP() << "missing " << f;
    FHives = std::make_unique<TempHives>();
    char tmpl[] = "/tmp/verimek-contract-XXXXXX";
    FDir = mkdtemp(tmpl);
    ASSERT_EQ(Sh("$CLI register '" + kLib + "libkalvix.so' '" + kLib + "libruvala.so'").Status, 0);
    std::ofstream(FHives->Machine(), std::ios::app)
        << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database]\n\"Referential\"=\"" << kReferential
        << "\"\n";
  }
  void TearDown() override {
    if (!FDir.empty()) fs::remove_all(FDir);
  }

  // Runs a bash script with $CLI set; its standard output and error are captured unless the
  // script redirects them itself.
  Result Sh(const std::string& script) {
    const std::string out = FDir + "/.out", err = FDir + "/.err", body = FDir + "/.sh";
    std::ofstream(body) << "CLI='" << kCli << "'\nD='" << FDir << "'\n" << script << "\n";
    int rc = std::system(("bash '" + body + "' >'" + out + "' 2>'" + err + "'").c_str());
    Result r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Slurp(out), Slurp(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = FDir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // The sample file repeated: long enough to be caught in the middle of a run.
  std::string BigFile(int copies) {
    const std::string one = Slurp(kSample);
    std::string all;
    for (int i = 0; i < copies; ++i) all += one;
    return Write("big.txt", all);
  }

  std::unique_ptr<TempHives> FHives;
  std::string FDir;
};

const char kMessage[] = "XGH+1+0039+104512+002'XEH+07+1+0031+1'XRH+1'ADR+1'XRT+1'XET+07'XGT+1'";

// Every command that writes results fails with status 2 when they cannot be written, instead
// of reporting success over a cut output.
TEST_F(CliContractTest, FailedWritesToStandardOutputAreFailures) {
  const std::string msg = Write("m.txt", kMessage);
  const std::string bad = Write("bad.txt", "XGH+1+0039+104512+002'XEH+07+1+0031+1'ADR+1'\n");
  const std::string db = FDir + "/r.db";
  ASSERT_LE(Sh("$CLI validate '" + kSample + "' --db '" + db + "'").Status, 1);
  const std::vector<std::string> commands = {
      "indent '" + msg + "'", "unindent '" + msg + "'",           "split '" + msg + "'", "syntax --lines '" + bad + "'",
      "tree '" + msg + "'",   "generate '" + msg + "'",           "check '" + msg + "'", "validate '" + msg + "'",
      "results '" + db + "'", "results '" + db + "' --message 1", "--version",           "--help",
  };
  for (const std::string& c : commands) {
    SCOPED_TRACE(c);
    Result ok = Sh("$CLI " + c);
    ASSERT_LE(ok.Status, 1) << ok.Err;
    ASSERT_FALSE(ok.Out.empty());
    Result full = Sh("$CLI " + c + " >/dev/full");
    EXPECT_EQ(full.Status, 2);
    EXPECT_NE(full.Err.find("verimek-cli: cannot write standard output (No space left on device)\n"), std::string::npos)
        << full.Err;
    Result closed = Sh("$CLI " + c + " >&-");
    EXPECT_EQ(closed.Status, 2);
    EXPECT_NE(closed.Err.find("verimek-cli: cannot write standard output (Bad file descriptor)\n"), std::string::npos)
        << closed.Err;
  }
  // A reader that went away ends the writer quietly, never with success.
  std::string deep = "XGH+1+0039+104512+002'XEH+07+1+0031+1'";
  for (int i = 0; i < 3000; ++i) deep += "XRH+1'";
  const std::string nested = Write("nested.txt", deep);
  Result pipe = Sh("$CLI indent '" + nested + "' | head -c 10 >/dev/null; echo ${PIPESTATUS[0]}");
  EXPECT_NE(pipe.Out, "0\n");
  EXPECT_EQ(pipe.Err, "");
}

// Indenting is quadratic in the nesting depth; the output is streamed, so memory stays flat,
// and exhaustion that does happen ends the command with a message instead of an abort.
TEST_F(CliContractTest, MemoryExhaustionIsReportedNotAborted) {
  if (kSanitized) GTEST_SKIP() << "address-space limits do not fit the sanitizer";
  std::string deep = "XGH+1+0039+104512+002'XEH+07+1+0031+1'";
  const int levels = 20000;
  for (int i = 0; i < levels; ++i) deep += "XRH+1'";
  const std::string nested = Write("nested.txt", deep);
  // About 800 MB of output under a 400 MB address-space limit.
  Result r = Sh("ulimit -v 400000; $CLI indent '" + nested + "' | wc -c");
  EXPECT_EQ(r.Err, "");
  // Header lines of 22 and 4 + 16 characters, then each XRH one level deeper, CR LF between
  // lines and LF at the end.
  std::uint64_t expected = 22 + 20 + 2 * (levels + 1) + 1;
  for (std::uint64_t i = 0; i < levels; ++i) expected += 8 + 4 * i + 6;
  EXPECT_EQ(r.Out, std::to_string(expected) + "\n");

  // A small streamed case, compared byte for byte.
  Result small = Sh("$CLI indent '" + Write("n3.txt", "XGH+1'XEH+1'XRH+1'XRH+2'") + "'");
  EXPECT_EQ(small.Out, "XGH+1'\r\n    XEH+1'\r\n        XRH+1'\r\n            XRH+2'\n");

  // Reading a 64 MB file under a 100 MB limit cannot succeed: status 2 and the reason.
  Write("huge.txt", std::string(64u << 20, 'A'));
  Result oom = Sh("ulimit -v 100000; $CLI unindent \"$D/huge.txt\" >/dev/null");
  EXPECT_EQ(oom.Status, 2);
  EXPECT_NE(oom.Err.find("verimek-cli: unindent failed (out of memory: std::bad_alloc)\n"), std::string::npos)
      << oom.Err;
}

// Standard error is the only record of the lines that failed: with the parser's messages and
// two worker processes writing at once, every line stays whole.
TEST_F(CliContractTest, DiagnosticLinesNeverTear) {
  std::string text;
  for (int i = 0; i < 1500; ++i) {
    text += "XEH+07+1+0031+1'XET+07'\n";                                          // no group header
    text += "XGH+1+0039+104512+002'XEH+07+1+0031+1'ADR+1'XRH+1'XET+07'XGT+1'\n";  // syntax errors
  }
  const std::string file = Write("failing.txt", text);
  const std::regex known(R"(^([0-9]+\t.+|ErrorReporter: .+|results database: .+)$)");
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    Result r = Sh("$CLI validate '" + file + "' --jobs " + jobs);
    EXPECT_EQ(r.Status, 1);
    std::size_t lineErrors = 0;
    for (const std::string& l : SplitLines(r.Err)) {
      EXPECT_TRUE(std::regex_match(l, known)) << l;
      if (!l.empty() && l[0] >= '0' && l[0] <= '9') ++lineErrors;
    }
    EXPECT_EQ(lineErrors, 1500u);
  }
}

// A full disk ends the run at the first message it cannot store: one failure, the summary of
// what was stored, status 2; the file reads back whole once there is room again.
TEST_F(CliContractTest, FullDiskEndsTheRunOnce) {
  const std::string mnt = FDir + "/small";
  fs::create_directory(mnt);
  if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=512k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string Path;
    ~Unmount() { umount2(Path.c_str(), MNT_DETACH); }
  } unmount{mnt};
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    std::string noise;
    unsigned seed = static_cast<unsigned>(i) * 2654435761u;
    for (int k = 0; k < 600; ++k) {
      seed = seed * 1103515245u + 12345u;
      noise += static_cast<char>('A' + (seed >> 16) % 26);
    }
    text += "XGH+1+0039+104512+002'XEH+90+1+0201'FTX+001+" + noise + "'XET+90'XGT+1'\n";
  }
  const std::string file = Write("many.txt", text);
  const std::string db = mnt + "/r.db";
  Result r = Sh("$CLI validate '" + file + "' --db '" + db + "'");
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Out.find("Global Result"), std::string::npos) << r.Err;
  std::size_t failures = 0;
  for (const std::string& l : SplitLines(r.Err)) failures += l.find("disk is full") != std::string::npos;
  EXPECT_EQ(failures, 1u) << r.Err;
  EXPECT_NE(r.Err.find("verimek-cli: Storing the results failed (database or disk is full)\n"), std::string::npos)
      << r.Err;
  const std::string copy = FDir + "/copy";
  fs::create_directory(copy);
  for (const auto& e : fs::directory_iterator(mnt)) fs::copy(e.path(), copy + "/" + e.path().filename().string());
  Result back = Sh("$CLI results '" + copy + "/r.db' && sqlite3 '" + copy + "/r.db' 'PRAGMA integrity_check'");
  EXPECT_EQ(back.Status, 0) << back.Err;
  EXPECT_NE(back.Out.find("\nok\n"), std::string::npos) << back.Out;
}

// An interrupted run takes its temporary results database with it; --keepdb and --db keep theirs.
TEST_F(CliContractTest, SignalsRemoveTheTemporaryDatabase) {
  const std::string file = BigFile(300);
  const std::string run = "$CLI validate '" + file +
                          "' %s >/dev/null 2>&1 & p=$!\n"
                          "for i in $(seq 200); do ls %s >/dev/null 2>&1 && break; sleep 0.05; done\n"
                          "sleep 0.2; kill -%s $p; wait $p; echo $?\n";
  struct Case {
    const char *Options, *Signal;
    bool Kept;
  } cases[] = {{"", "TERM", false}, {"", "INT", false}, {"--keepdb", "TERM", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Options) + " SIG" + c.Signal);
    const std::string tmp = FDir + "/tmp-" + c.Signal + c.Options;
    fs::create_directory(tmp);
    char script[1024];
    std::snprintf(script, sizeof script, run.c_str(), c.Options, "\"$TMPDIR\"/sql*.db", c.Signal);
    Result r = Sh("export TMPDIR='" + tmp + "'\n" + script);
    EXPECT_NE(r.Out, "0\n");
    bool any = false;
    for (const auto& e : fs::directory_iterator(tmp)) any |= e.path().filename().string().rfind("sql", 0) == 0;
    EXPECT_EQ(any, c.Kept);
  }
  const std::string db = FDir + "/given.db";
  char script[1024];
  std::snprintf(script, sizeof script, run.c_str(), ("--db '" + db + "'").c_str(), ("'" + db + "'").c_str(), "TERM");
  Result r = Sh("export TMPDIR='" + FDir + "'\n" + script + "$CLI results '" + db + "' >/dev/null && echo readable");
  EXPECT_NE(r.Out.find("readable"), std::string::npos) << r.Err;
}

// syntax --lines streams the file: each line reports what the line alone as a file reports,
// numbered, across line ends of both kinds, code-page text and lines longer than the buffer.
TEST_F(CliContractTest, SyntaxLinesMatchEachLineAlone) {
  const std::string big(5u << 20, 'A');
  const std::vector<std::string> lines = {
      kMessage,
      "",
      "XGH+1+0039+104512+002'XEH+07+1+0031+1'XET+07'",
      "XGH+1+0039+104512+002'XEH+90+1+0201'NME+Ren\xE9'XET+90'XGT+1'",
      "XGH+1+0039+104512+002'XEH+90+1+0201'FTX+001+" + big + "'XET+90'XGT+1'",
      "XGH+1+0039+104512+002'XEH+90+1+0201'FTX+001+" + big + "+'XET+90'",
      "XGH+1+0039+104512+002'XEH+90+1+0201'NME+Ren\xC3\xA9'XET+90'XGT+1",
  };
  std::string file, expected;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    file += lines[i] + (i == 2 ? "\r\n" : i + 1 < lines.size() ? "\n" : "");
    if (lines[i].empty()) continue;
    const std::string one = Write("one.txt", lines[i]);
    for (const std::string& l : SplitLines(Sh("$CLI syntax '" + one + "'").Out))
      expected += std::to_string(i + 1) + "\t" + l + "\n";
  }
  // The broken lines before and after the long ones are numbered as themselves.
  EXPECT_NE(expected.find("\n3\t"), std::string::npos) << expected;
  EXPECT_NE(expected.find("\n7\t"), std::string::npos) << expected;
  Result r = Sh("$CLI syntax --lines '" + Write("lines.txt", file) + "'");
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_EQ(r.Out, expected);
}

// Messages are committed in groups: a run killed outright loses at most its open group and
// leaves a sound file of whole messages, each with the findings rows its counts announce.
TEST_F(CliContractTest, KilledRunLeavesOnlyWholeMessages) {
  const std::string file = BigFile(1000);
  const std::string broken =
      "select count(*) from Messages m where (select count(*) from Data d where d.MessageId = m.Id) <> 1"
      " or ErrorCount <> (select count(*) from Errors e where e.MessageId = m.Id)"
      " or WarningCount <> (select count(*) from Warnings w where w.MessageId = m.Id);"
      "select count(*) from Data where MessageId not in (select Id from Messages);"
      "select count(*) from Errors where MessageId not in (select Id from Messages);"
      "select count(*) from Warnings where MessageId not in (select Id from Messages);";
  const std::string text = Slurp(file);
  std::size_t messages = 0;
  for (std::size_t at = 0; (at = text.find("XEH+", at)) != std::string::npos; ++at) ++messages;
  for (const char* options : {"", " --jobs 2"}) {
    SCOPED_TRACE(options);
    const std::string db = FDir + "/killed.db";
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
    // Killed once groups of messages have reached the write-ahead log (past the schema's few
    // pages), while later ones are being written.
    Result r =
        Sh("DB='" + db + "'\n$CLI validate '" + file + "' --db \"$DB\"" + options +
           " >/dev/null 2>&1 & p=$!\n"
           "for i in $(seq 1000); do [ \"$(stat -c %s \"$DB-wal\" 2>/dev/null || echo 0)\" -gt 300000 ] && break;"
           " sleep 0.02; done\n"
           "sleep 0.2; kill -KILL $p; wait $p; echo $?\n"
           "sqlite3 \"$DB\" 'PRAGMA integrity_check' 'select count(*) from Messages' \"" +
           broken + "\"\n$CLI results \"$DB\" >/dev/null && echo readable");
    const std::vector<std::string> out = SplitLines(r.Out);
    ASSERT_EQ(out.size(), 8u) << r.Out << r.Err;
    EXPECT_EQ(out[0], "137");
    EXPECT_EQ(out[1], "ok");
    const long stored = std::atol(out[2].c_str());
    EXPECT_GT(stored, 0);
    EXPECT_LT(static_cast<std::size_t>(stored), messages);
    EXPECT_EQ(std::vector<std::string>(out.begin() + 3, out.begin() + 7),
              (std::vector<std::string>{"0", "0", "0", "0"}));
    EXPECT_EQ(out[7], "readable") << r.Err;
  }
}

// A worker process that dies is named with its signal and the line it held. SIGKILL, because
// the sanitizer build turns a SIGSEGV into a report and an exit status of its own.
TEST_F(CliContractTest, DyingWorkerIsNamed) {
  const std::string file = BigFile(300);
  Result r = Sh("$CLI validate '" + file +
                "' --jobs 2 >/dev/null & p=$!\n"
                "for i in $(seq 200); do c=$(pgrep -P $p | head -1); [ -n \"$c\" ] && break; sleep 0.05; done\n"
                "sleep 0.3; kill -KILL $c; wait $p; echo $?");
  EXPECT_EQ(r.Out, "2\n");
  const std::regex named(R"(verimek-cli: Worker process [12] \(pid [0-9]+\) stopped with signal 9 \(Killed\) )"
                         R"((while validating line|before line) [0-9]+\n)");
  EXPECT_TRUE(std::regex_search(r.Err, named)) << r.Err;
}

TEST_F(CliContractTest, PlainUsageErrors) {
  const std::string msg = Write("m.txt", kMessage);
  Result r = Sh("$CLI validate '" + msg + "' --db ''");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err.rfind("verimek-cli: --db needs a file name\nusage: verimek-cli validate", 0), 0u) << r.Err;

  // No file was made: none is named.
  r = Sh("$CLI validate '" + msg + "' --db \"$D/no/such/folder/r.db\"");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err.find("results database:"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("CreateDB failed"), std::string::npos) << r.Err;

  const std::string db = FDir + "/r.db";
  ASSERT_LE(Sh("$CLI validate '" + msg + "' --db '" + db + "'").Status, 1);
  r = Sh("$CLI results '" + db + "' --message 99999999999999999999");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err, "verimek-cli: Invalid message id \"99999999999999999999\" (too large for a 64-bit number)\n");
}

}  // namespace
