// Every input the validate fuzzer ever kept under fuzz/corpus/validate, through the fuzzer's own
// entry point, which aborts on a broken invariant; sanitizer builds catch the rest.
#include <gtest/gtest.h>

#include <string>

#include "../common/FuzzCorpus.h"

bool ValidateFuzzSetUp(std::string& why);

TEST(ValidateFuzzCorpusTest, ReplaysTheKeptInputs) {
  std::string why;
  if (!ValidateFuzzSetUp(why)) GTEST_SKIP() << why;
  EXPECT_GT(fuzzcorpus::Replay("validate"), 0);
}
