// Splitting and indenting one large interchange: the time per megabyte must not grow with size.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ClassUtils.h"
#include "EdiProcs.h"

static std::string MakeInterchange(std::size_t bytes) {
  std::string text = "XGH+1+0039+104512'";
  int n = 0;
  while (text.size() < bytes) {
    ++n;
    text += "XEH+" + std::to_string(n % 100) +
            "+1+0201+1++10'DTM+006:15032021:001'RFF+009:1-ABC?'123'"
            "XRH+1'PTY+003+CLI00457'NME+001+DUPONT:JEAN'ADR+001+RUE DE LA LOI:16+1000+BRUXELLES+B'XRT+1'"
            "XET+" +
            std::to_string(n % 100) + "'";
  }
  text += "XGT+1'";
  return text;
}

template <class F>
static double BestSeconds(int runs, F&& f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

int main(int argc, char** argv) {
  const std::size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10;
  std::printf("%-16s %8s %12s %12s %10s\n", "procedure", "MB", "seconds", "MB/s", "entries");
  for (std::size_t size : {mb / 10 ? mb / 10 : 1, mb}) {
    const std::string text = MakeInterchange(size << 20);
    const double megabytes = double(text.size()) / (1 << 20);
    std::size_t entries = 0;
    double sd = BestSeconds(3, [&] {
      std::vector<std::string> out;
      common::EdiDecompose(text, out);
      entries = out.size();
    });
    std::printf("%-16s %8.1f %12.4f %12.1f %10zu\n", "EdiDecompose", megabytes, sd, megabytes / sd, entries);
    std::size_t lines = 0;
    double sf = BestSeconds(3, [&] {
      std::string f = common::TString::FormatEdifact(text);
      lines = f.size();
    });
    std::printf("%-16s %8.1f %12.4f %12.1f %10zu\n", "FormatEdifact", megabytes, sf, megabytes / sf, lines);
    double su = BestSeconds(3, [&] { lines = common::TString::UnformatEdifact(text).size(); });
    std::printf("%-16s %8.1f %12.4f %12.1f %10zu\n", "UnformatEdifact", megabytes, su, megabytes / su, lines);
  }
  return 0;
}
