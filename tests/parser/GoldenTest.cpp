// Golden files: for each tests/parser/golden/NAME.edi, the error list (NAME.errors, one message
// per line as `verimek-cli syntax` prints it) and the tree (NAME.tree, as `verimek-cli tree`
// prints it). KALVIX_GOLDEN_UPDATE=1 rewrites them; check the difference by hand before keeping it.
// Also replays the inputs that fuzzing once crashed on, and every sample line, through the
// same client-side exercise as the fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "../../fuzz/ParserExercise.h"
#include "ParserTestUtil.h"

namespace kalvix::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<fs::path> FilesIn(const fs::path& dir, const std::string& ext) {
  std::vector<fs::path> out;
  if (fs::is_directory(dir))
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file() && (ext.empty() || e.path().extension() == ext)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Golden, TreeAndErrorsOfEachInterchange) {
  const fs::path dir = fs::path(EDI_SOURCE_DIR) / "tests/parser/golden";
  const bool update = std::getenv("KALVIX_GOLDEN_UPDATE") != nullptr;
  std::vector<fs::path> inputs = FilesIn(dir, ".edi");
  ASSERT_GE(inputs.size(), 5u);
  for (const fs::path& in : inputs) {
    Parsed p(ReadAll(in));
    std::string errors;
    for (const std::string& e : p.Errors()) errors += e.empty() || e.back() != '\n' ? e + "\n" : e;
    fs::path errFile = fs::path(in).replace_extension(".errors"), treeFile = fs::path(in).replace_extension(".tree");
    if (update) {
      std::ofstream(errFile, std::ios::binary) << errors;
      std::ofstream(treeFile, std::ios::binary) << p.Dump();
      continue;
    }
    EXPECT_EQ(errors, ReadAll(errFile)) << in.filename();
    EXPECT_EQ(p.Dump(), ReadAll(treeFile)) << in.filename();
  }
}

void Exercise(const std::string& input) {
  fuzz::ExerciseParser(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(FuzzRegressions, KeptInputsAndSampleLinesRunClean) {
  const bool echo = ErrorReporter::EchoEnabled();
  ErrorReporter::SetEchoEnabled(false);
  for (const fs::path& f : FilesIn(fs::path(EDI_SOURCE_DIR) / "fuzz/corpus/parser", "")) {
    SCOPED_TRACE(f.filename().string());
    Exercise(ReadAll(f));
  }
  for (const fs::path& f : FilesIn(fs::path(EDI_SOURCE_DIR) / "tests/parser/golden", ".edi")) {
    Exercise(ReadAll(f));
  }
  for (const char* file : {"/samples/valid.txt", "/samples/with-findings.txt", "/samples/syntax-errors.txt"}) {
    std::vector<std::string> lines;
    if (!ReadLines(std::string(EDI_SHARED_DIR) + file, lines)) continue;
    for (const std::string& line : lines) {
      Exercise(line);
    }
  }
  ErrorReporter::SetEchoEnabled(echo);
}

}  // namespace
}  // namespace kalvix::test

namespace kalvix::test {
namespace {

// The token-free path for well-formed interchanges must give what the token parser gives,
// also on spellings it meets rarely and on texts it has to hand over.
TEST(CleanPath, AgreesWithTheTokenParser) {
  const std::string xgh = "XGH+1+0039+104512+002'";
  const std::string cases[] = {
      xgh + "XEH+05+1'GIS+A+1'XET+05'XGT+1'",
      "\r\n  XGH+01+0039:01+104512+002'\r\nXEH+5\r\n  +1'GIS\n\n+A?+?:+1?"
      "?'XET\r\n+05'\r\nXGT+1'\r\n",
      xgh + "XEH+9+1'XET+09'XEH+90+1'XET+90'XGT+1'",  // class 09 then 90
      xgh + "XEH+97+1'RFF+?'A:B?''XRH+01'DOC+1+::X'MMD+1+A'XRT+1'XET+97'XGT+1'",
      xgh + "XEH+01+2'XRH+1'ROD+110'XRH+2'ICD+101'XRT+2'XRT+1'XRH+1'ROD+1'XRT+1'XET+01'XGT+1'",
      xgh + "XEH+05+1'XRH+1'PAT+1'XRT+1'XRH+1'ACT+002'XRT+1'XET+05'XGT+1'",  // last block loop fails
      xgh + "XEH+07+1'XRH+2'LIN+1'XRT+2'XET+07'XGT+1'",                      // block level
      xgh + "XEH+07+1'XRH+1'LIN+1'XRT+1'XET+07'XGT+1'XGH+1+1+2'ADR+1'GIS",   // tokens after the trailer
      xgh + "XEH+07+1'XET+07'XGT+1'ADR+1'GIS+ZZ?X",                          // a lexical error in the window
      xgh + "XEH+07+1'XET+07'XGT+1'ADR+1'GIS+ZZ+A?X",                        // and one past it
      xgh + "XEH+07+1'XET+07'XGT+1' ",
      xgh + "XEH+07+1'XET+07'XGT+1",
      xgh + "XEH+10+1'XET+01'XGT+1'",
      xgh + "XEH+07+1'MOA+1:2:3:4:5+6:7:8+9:10:11'XET+07'XGT+1'",  // one element too many
      xgh + "XEH+07+1'MOA+1:2:3:4:5:6'XET+07'XGT+1'",              // one component too many
      xgh + "XEH+97+1'XRH+1'DOC+1'MMD+1'XRT+1'XET+97'XGT+1'",      // MMD needs its "+"
      std::string("XGH+1+A+B'XEH+07+1'FTX+1+A\0B'XET+07'XGT+1'", 40),
      "XGH+3+A+B'XEH+12+1'free\xFE'XET+12'XGT+1'",
  };
  for (const std::string& text : cases) {
    SegmentTree clean, tokens;
    ErrorReporter cleanErrors, tokenErrors;
    cleanErrors.SetEcho(false);
    tokenErrors.SetEcho(false);
    ParseInterchange(text, clean, cleanErrors, true);
    ParseInterchange(text, tokens, tokenErrors, false);
    EXPECT_EQ(fuzz::Describe(clean, cleanErrors), fuzz::Describe(tokens, tokenErrors)) << text;
  }
}

}  // namespace
}  // namespace kalvix::test
