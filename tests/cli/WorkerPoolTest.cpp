// The worker pool against stand-in workers that die, hang, cut their answers short or damage
// them: every failure ends the run with the worker named, none hangs the parent.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <regex>
#include <set>

#include "LineReader.h"
#include "Platform.h"
#include "WorkerPool.h"

using verimek::TLineOutcome;

namespace {

struct TResult {
  std::vector<std::string> Lines;
  std::vector<TLineOutcome> Outcomes;
  std::string Error;
  std::vector<std::string> ErrChunks;  // what reached the sink, call by call
  double Seconds = 0;
};

class WorkerPoolTest : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(FFile.c_str()); }

  TResult Run(const std::string& mode, const std::vector<std::string>& lines, int jobs = 2, double timeout = 30) {
    FFile = common::TempFolder() + "verimek-pool-XXXXXX";
    const int fd = mkstemp(FFile.data());
    EXPECT_GE(fd, 0);
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);

    TResult r;
    std::mutex mutex;
    const auto start = std::chrono::steady_clock::now();
    {
      verimek::TLineReader reader(FFile);
      const std::size_t count = reader.CountLines();
      cli::TProcessLineSource pool({POOL_TEST_WORKER, mode}, jobs, timeout, [&](std::string_view s) {
        std::lock_guard<std::mutex> lock(mutex);
        r.ErrChunks.emplace_back(s);
      });
      try {
        pool.Begin(reader, count);
        std::string line;
        TLineOutcome o;
        while (pool.Next(line, o)) {
          r.Lines.push_back(line);
          r.Outcomes.push_back(o);
        }
      } catch (const std::exception& e) {
        r.Error = e.what();
      }
      pool.End();
    }
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
  }

  std::string FFile;
};

std::vector<std::string> Numbered(int n) {
  std::vector<std::string> lines;
  for (int i = 1; i <= n; ++i) lines.push_back("line " + std::to_string(i));
  return lines;
}

// The pid in a message naming a worker; the worker must be gone by the time it is reported.
void ExpectGone(const std::string& error) {
  std::smatch m;
  ASSERT_TRUE(std::regex_search(error, m, std::regex(R"(\(pid ([0-9]+)\))"))) << error;
  EXPECT_NE(kill(std::stoi(m[1]), 0), 0) << error;
}

TEST_F(WorkerPoolTest, OutcomesInInputOrderAndErrorLinesWhole) {
  std::vector<std::string> lines = Numbered(300);
  std::set<std::string> said;
  for (int i = 0; i < 300; i += 7) {
    lines[static_cast<std::size_t>(i)] = "say:worker line " + std::to_string(i) + " with some text after it";
    said.insert(lines[static_cast<std::size_t>(i)].substr(4));
  }
  TResult r = Run("serve", lines, 3);
  EXPECT_EQ(r.Error, "");
  ASSERT_EQ(r.Lines, lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(r.Outcomes[i].Messages.size(), 1u);
    EXPECT_EQ(r.Outcomes[i].Messages[0].Body, lines[i]);
  }
  // Each chunk passed on is whole lines, and together they are every line said, once.
  std::multiset<std::string> got;
  for (const std::string& c : r.ErrChunks) {
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c.back(), '\n') << c;
    std::size_t b = 0;
    for (std::size_t e = c.find('\n'); e != std::string::npos; b = e + 1, e = c.find('\n', b))
      got.insert(c.substr(b, e - b));
  }
  EXPECT_EQ(got, std::multiset<std::string>(said.begin(), said.end()));
}

// Lines go out 32 to a batch: line 40 is the eighth of worker 2's first batch.
TEST_F(WorkerPoolTest, DyingWorkerIsNamedWithItsSignalAndLine) {
  std::vector<std::string> lines = Numbered(100);
  lines[39] = "segv";
  TResult r = Run("serve", lines);
  EXPECT_TRUE(std::regex_match(r.Error, std::regex(R"(Worker process 2 \(pid [0-9]+\) stopped with signal 11 )"
                                                   R"(\(Segmentation fault\) while validating line 40)")))
      << r.Error;
  EXPECT_EQ(r.Lines.size(), 32u);  // worker 1's batch came back first
  ExpectGone(r.Error);
}

TEST_F(WorkerPoolTest, HangingWorkerIsKilledAfterTheIdleTimeOut) {
  std::vector<std::string> hangAt5 = Numbered(10);
  hangAt5[4] = "hang";
  struct Case {
    const char* Name;
    const char* Mode;
    std::vector<std::string> Lines;
    const char* Expected;
  } cases[] = {
      {"stops answering", "serve", hangAt5,
       R"(Worker process 1 \(pid [0-9]+\) did not answer for 0.3 s )"
       R"(while validating line 5)"},
      {"never reads, small batch", "deaf", Numbered(3),
       R"(Worker process 1 \(pid [0-9]+\) did not answer )"
       R"(for 0.3 s before line 1)"},
      // More than a pipe holds: the parent's write would block.
      {"never reads, large batch",
       "deaf",
       {std::string(300000, 'x')},
       R"(Worker process 1 \(pid [0-9]+\) did not answer for 0.3 s before line 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TResult r = Run(c.Mode, c.Lines, 2, 0.3);
    EXPECT_TRUE(std::regex_match(r.Error, std::regex(c.Expected))) << r.Error;
    EXPECT_LT(r.Seconds, 5);
    ExpectGone(r.Error);
  }
}

TEST_F(WorkerPoolTest, BrokenAnswersAreErrorsNotHangs) {
  struct Case {
    const char* Mode;
    const char* Expected;
  } cases[] = {
      // 8 bytes of length saying 100, then 10 of the 100.
      {"truncate", R"(Worker process 1 \(pid [0-9]+\) ended with status 0 before line 1; )"
                   R"(its result broke off after 18 of 108 bytes)"},
      {"short", "Worker process sent a damaged result"},
      {"count", "Worker process sent a damaged result"},
      {"length", "Worker process sent a damaged result"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Mode);
    TResult r = Run(c.Mode, Numbered(5), 1);
    EXPECT_TRUE(std::regex_match(r.Error, std::regex(c.Expected))) << r.Error;
    EXPECT_TRUE(r.Lines.empty());
    EXPECT_LT(r.Seconds, 10);
  }
}

}  // namespace
