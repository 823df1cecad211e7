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
