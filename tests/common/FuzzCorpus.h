// Replays the inputs a fuzzer kept under fuzz/corpus/NAME through the fuzzer's own entry point,
// so that every test run repeats them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzzcorpus {

// Number of inputs replayed; each must return 0.
inline int Replay(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(EDI_SOURCE_DIR) / "fuzz" / "corpus" / name;
  EXPECT_TRUE(std::filesystem::is_directory(dir)) << dir;
  if (!std::filesystem::is_directory(dir)) return 0;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), 0);
    ++replayed;
  }
  return replayed;
}

}  // namespace fuzzcorpus
