// verimek-cli syntax / tree / generate, run as a program against libkalvix.so registered in
// temporary hives. Other tools read these outputs, so they are compared byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "TempHives.h"

namespace {

struct CliRun {
  std::string out;
  int rc = -1;
};

CliRun Cli(const std::string& args) {
  CliRun r;
  std::string cmd = std::string(VERIMEK_CLI) + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = pclose(p);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class CliParser : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Cli(std::string("register ") + KALVIX_LIBRARY).rc, 0); }
  std::string File(const std::string& name, const std::string& text) {
    std::string path = FHives.Dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  TempHives FHives;
};

TEST_F(CliParser, SyntaxListsOneMessagePerLine) {
  std::string f = File("two.txt",
                       "XGH+1+0039+104512+002'\r\n"
                       "XEH+07+1+0031+1'\r\n"
                       "  XRH+2'\r\n"
                       "  LIN+1'\r\n"
                       "  XRT+1'\r\n"
                       "  DTM+1'\r\n"
                       "XET+07'\r\n");
  CliRun r = Cli("syntax " + f);
  EXPECT_EQ(r.out,
            "Invalid block level, line 3. Found 2, expecting 1\n"
            "line 6: syntax error at \"DTM\" missing TAG_XET\n"
            "line 8: syntax error at \"<eof>\" missing TAG_XGT\n");
  EXPECT_EQ(r.rc, 1);

  std::string ok = File("ok.txt", "XGH+1+0039+104512+002'XEH+07+1+0031+1'XET+07'XGT+1'");
  CliRun clean = Cli("syntax " + ok);
  EXPECT_EQ(clean.out, "");
  EXPECT_EQ(clean.rc, 0);
  EXPECT_EQ(Cli("syntax " + FHives.Dir() + "/missing.txt").rc, 2);
}

TEST_F(CliParser, SyntaxWithLinesNumbersEachInterchange) {
  std::string f = File("lines.txt",
                       "XGH+1+0039+104512+002'XEH+07+1+0031+1'XET+07'XGT+1'\n"
                       "XGH+1+0039+104512+002'XEH+07+1+0031+1'XRH+2'LIN+1'XRT+2'XET+07'XGT+1'\r\n"
                       "ADR+1'\n");
  CliRun r = Cli("syntax --lines " + f);
  EXPECT_EQ(r.out,
            "2\tInvalid block level, line 1. Found 2, expecting 1\n"
            "2\tInvalid block level, line 1. Found 2, expecting 1\n"
            "3\tline 1: syntax error at \"ADR\" missing { TAG_POS_SGMT XGH\\+{0}1 }\n");
  EXPECT_EQ(r.rc, 1);
  std::string first = File("first.txt", "XGH+1+0039+104512+002'XEH+07+1+0031+1'XET+07'XGT+1'\n");
  EXPECT_EQ(Cli(first + " --lines").rc, 2);  // the command comes first
  EXPECT_EQ(Cli("syntax " + first + " --lines").rc, 0);
}

TEST_F(CliParser, TreePrintsNodesWithTheirValues) {
  std::string f = File("tree.txt", "XGH+1+0039+104512+002'XEH+91+1'ADR++RUE?+1:16'XRH+1'QRS+1'XRT+1'XET+91'XGT+1'");
  CliRun r = Cli("tree " + f);
  EXPECT_EQ(r.out,
            "XGH X9261=1 C9001X9211=0039 C9051X9231=104512 X9251=002\n"
            "  XEH X9101=91 X9141=1\n"
            "    ADR C0011X0021=RUE+1 C0011X0031=16\n"
            "    QRS X0451=1\n"
            "  XET X9101=91\n"
            "XGT X9261=1\n");
  EXPECT_EQ(r.rc, 0);
  std::string pos = File("pos.txt", "XGH+3+A+B'XEH+12+1'two\r\nlines\xFE'XET+12'XGT+1'");
  EXPECT_EQ(Cli("tree " + pos).out,
            "XGH X9261=1 C9001X9211=A C9051X9231=B\n"
            "  XEH X9101=12 X9141=1\n"
            "    [DATA] two\\r\\nlines\n"
            "  XET X9101=12\n"
            "XGT X9261=1\n");
}

TEST_F(CliParser, GenerateWritesTheTreeBack) {
  std::string f =
      File("gen.txt", "XGH+1+0039+104512+002'\n  XEH+5+1'\n  XRH+1'\n  PTY+003'\n  XRT+1'\n  XET+05'\nXGT+1'");
  CliRun r = Cli("generate " + f);
  EXPECT_EQ(r.out, "XGH+1+0039+104512+002'XEH+05+1'XET+05'XGT+1'\n");
  EXPECT_EQ(r.rc, 0);
}

}  // namespace
