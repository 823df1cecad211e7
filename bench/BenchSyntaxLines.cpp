// verimek-cli syntax --lines on a file of generated interchanges against a pass over the same
// file that reads it in large chunks and finds its line ends with memchr: the least any line
// reader can cost. Also the command's peak resident memory against the file's size plus 32 MB.
// Registers the built parser in temporary hives.
//
//   bench_syntax_lines [--file PATH] [--repeat R]   (default: 50 MB generated with seed 42)
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Platform.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Line ends of the file, read in 1 MB chunks; -1 when it cannot be read.
long long MemchrPass(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  std::vector<char> buf(1 << 20);
  long long lines = 0;
  for (ssize_t n; (n = read(fd, buf.data(), buf.size())) > 0;) {
    const char* p = buf.data();
    const char* end = p + n;
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))))) {
      ++lines;
      ++p;
    }
  }
  close(fd);
  return lines;
}

// Runs the command with standard output to /dev/null; its wall time and peak resident KB.
bool RunChild(const std::vector<std::string>& argv, double& wall, long& maxRssKb) {
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage u{};
  if (wait4(pid, &status, 0, &u) != pid) return false;
  wall = Seconds(t0);
  maxRssKb = u.ru_maxrss;
  return WIFEXITED(status) && WEXITSTATUS(status) != 2 && WEXITSTATUS(status) != 127;
}

bool Run(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  int repeat = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--file") file = argv[i + 1];
    if (a == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::string bin = common::ExtractFilePath(common::ProgramFileName());
  const std::string cli = bin + "verimek-cli";
  std::string work = common::TempFolder() + "bench-syntax-XXXXXX";
  if (!mkdtemp(work.data())) return 2;
  struct Cleanup {
    std::string Dir;
    ~Cleanup() { std::filesystem::remove_all(Dir); }
  } cleanup{work};
  if (file.empty()) {
    file = common::TempFolder() + "bench-syntax-corpus-50mb-seed42.txt";
    if (!common::FileExists(file) &&
        !Run("python3 " EDI_SHARED_DIR "/bench/gen_corpus.py --target-bytes 50000000 --seed 42 -o '" + file + "'")) {
      std::fprintf(stderr, "bench: cannot generate the corpus\n");
      return 2;
    }
  }
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) {
    std::fprintf(stderr, "bench: cannot read %s\n", file.c_str());
    return 2;
  }
  ::setenv("TARNHOLT_MACHINE_HIVE", (work + "/machine.reg").c_str(), 1);
  ::setenv("TARNHOLT_USER_HIVE", (work + "/user.reg").c_str(), 1);
  if (!Run("'" + cli + "' register '" + bin + "../lib/libkalvix.so' >/dev/null 2>&1")) {
    std::fprintf(stderr, "bench: cannot register the parser\n");
    return 2;
  }
  const double mb = static_cast<double>(st.st_size) / 1e6;
  double memchrBest = 1e30, syntaxBest = 1e30;
  long peakKb = 0;
  long long lines = 0;
  int status = 0;
  for (int r = 0; r < repeat; ++r) {
    auto t0 = Clock::now();
    lines = MemchrPass(file);
    memchrBest = std::min(memchrBest, Seconds(t0));
    double wall = 0;
    long rss = 0;
    if (!RunChild({cli, "syntax", "--lines", file}, wall, rss)) {
      std::fprintf(stderr, "bench: verimek-cli syntax --lines failed\n");
      status = 2;
    }
    syntaxBest = std::min(syntaxBest, wall);
    peakKb = std::max(peakKb, rss);
  }
  const double limitMb = mb + 32 * 1.048576;
  std::printf("%s: %.1f MB, %lld lines, best of %d runs\n", file.c_str(), mb, lines, repeat);
  std::printf("%-34s %10.1f MB/s\n", "read in 1 MB chunks + memchr", mb / memchrBest);
  std::printf("%-34s %10.1f MB/s\n", "verimek-cli syntax --lines", mb / syntaxBest);
  std::printf("ratio to memchr %.1f%% (target >= 12%%)\n", 100.0 * memchrBest / syntaxBest);
  std::printf("peak resident %.1f MB, limit file + 32 MiB = %.1f MB (%s)\n", static_cast<double>(peakKb) * 1.024e-3,
              limitMb, static_cast<double>(peakKb) * 1.024e-3 <= limitMb ? "within" : "over");
  return status;
}
