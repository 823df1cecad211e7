// Every input the validate fuzzer ever kept under fuzz/corpus/validate, through the fuzzer's own
// entry point, which aborts on a broken invariant; sanitizer builds catch the rest.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

bool ValidateFuzzSetUp(std::string& why);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(ValidateFuzzCorpusTest, ReplaysTheKeptInputs) {
  std::string why;
  if (!ValidateFuzzSetUp(why)) GTEST_SKIP() << why;
  const std::filesystem::path dir = std::filesystem::path(EDI_SOURCE_DIR) / "fuzz" / "corpus" / "validate";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), 0);
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}
