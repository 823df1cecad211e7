// File validation throughput: the engine alone, verimek-cli validate with its results database,
// and with --jobs 2, on generated files of interchanges. Uses whatever engine the registry names
// (register the libraries and point the hives at the large sample referential first).
//
//   bench_validate [--lines N] [--valid FILE] [--findings FILE]
#include <edicom/EdiComCpp.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Platform.h"
#include "evWorkers.h"

static std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (!l.empty()) lines.push_back(l);
  }
  return lines;
}

static std::string MakeFile(const std::vector<std::string>& sample, std::size_t n, const char* name) {
  std::string path = common::TempFolder() + name;
  std::ofstream out(path, std::ios::binary);
  for (std::size_t i = 0; i < n; ++i) out << sample[i % sample.size()] << "\r\n";
  return path;
}

static double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Engine alone: the file worker's per-line calls without a database. Returns messages.
static std::size_t EngineAlone(const std::string& file, double& secs) {
  auto doc = verimek::TComponentFactory::ByClassId().CreateDocument();
  verimek::TValidationSettings s;
  s.MessageDate = verimek::TodayDate();
  std::vector<std::string> lines = ReadLines(file);
  std::size_t messages = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (const std::string& l : lines) {
    try {
      verimek::ValidateLineMessages(doc.Get(), s, l, [&](int, const std::string*, const verimek::TMessageFindings&) {
        ++messages;
      });
    } catch (const std::exception&) {
    }
  }
  secs = Seconds(t0);
  return messages;
}

static double RunCli(const std::string& file, const std::string& extra) {
  const std::string cli = common::ExtractFilePath(common::ProgramFileName()) + "verimek-cli";
  const std::string db = common::TempFolder() + "bench-validate.db";
  std::remove(db.c_str());
  std::string cmd = "'" + cli + "' validate '" + file + "' --db '" + db + "' " + extra + " >/dev/null 2>&1";
  auto t0 = std::chrono::steady_clock::now();
  int rc = std::system(cmd.c_str());
  double secs = Seconds(t0);
  if (!WIFEXITED(rc) || WEXITSTATUS(rc) == 2) std::fprintf(stderr, "bench: \"%s\" failed\n", cmd.c_str());
  for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
  return secs;
}

int main(int argc, char** argv) {
  std::size_t n = 20000;
  std::string valid = std::string(EDI_SHARED_SAMPLES) + "/valid.txt";
  std::string findings = std::string(EDI_SHARED_SAMPLES) + "/with-findings.txt";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--lines") n = std::strtoul(argv[i + 1], nullptr, 10);
    if (a == "--valid") valid = argv[i + 1];
    if (a == "--findings") findings = argv[i + 1];
  }
  CoInitialize(nullptr);
  std::printf("%-10s %8s %10s %12s %12s %12s %8s %8s\n", "file", "lines", "messages", "engine/s", "validate/s",
              "jobs2/s", "db-ratio", "speedup");
  const std::pair<const char*, std::string> inputs[] = {{"valid", valid}, {"findings", findings}};
  for (const auto& [label, sample] : inputs) {
    std::vector<std::string> lines = ReadLines(sample);
    if (lines.empty()) {
      std::fprintf(stderr, "bench: no lines in %s\n", sample.c_str());
      continue;
    }
    const std::string file = MakeFile(lines, n, label == std::string("valid") ? "bench-valid.txt" : "bench-findings.txt");
    double engineSecs = 0;
    std::size_t messages = EngineAlone(file, engineSecs);
    double one = RunCli(file, "");
    double two = RunCli(file, "--jobs 2");
    const double m = static_cast<double>(messages);
    std::printf("%-10s %8zu %10zu %12.0f %12.0f %12.0f %8.2f %8.2f\n", label, n, messages, m / engineSecs, m / one,
                m / two, engineSecs / one, one / two);
    std::remove(file.c_str());
  }
  CoUninitialize();
  return 0;
}
