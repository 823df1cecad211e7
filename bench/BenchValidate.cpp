// File validation throughput on 2 cores: the engine alone, verimek-cli validate with its results
// database, and with --jobs 2, each on a file of generated interchanges that are valid against
// the large sample referential and on one with findings on every line. Sets itself up: builds the
// large referential when missing, registers the built components in temporary hives.
// Prints messages/s (best of the runs) and the two ratios against their targets, then the
// processor time per message of the same runs, which the machine's other load disturbs less.
//
//   bench_validate [--lines N] [--repeat R]
#include <edicom/EdiComCpp.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Format.h"
#include "LineReader.h"
#include "Platform.h"
#include "SysSqlite.h"
#include "evWorkers.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kDate[] = "2025-06-30";  // the date of the samples' expected findings

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Processor seconds, user and system, of this process or of its waited-for descendants.
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Wall and processor time of the fastest run.
struct TTiming {
  double Wall = 1e30, Cpu = 0;
  void Take(double wall, double cpu) {
    if (wall < Wall) Wall = wall, Cpu = cpu;
  }
};

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (!l.empty()) lines.push_back(l);
  }
  return lines;
}

bool Run(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) && WEXITSTATUS(rc) != 2 && WEXITSTATUS(rc) != 127;
}

struct TCounts {
  std::size_t Messages = 0, Findings = 0;
  bool Failed = false;
};

TCounts ValidateLine(ruvala::IEdiDocument* doc, const verimek::TValidationSettings& s, const std::string& line) {
  TCounts c;
  try {
    verimek::ValidateLineMessages(doc, s, line, [&](int, const std::string*, const verimek::TMessageFindings& f) {
      ++c.Messages;
      c.Findings += static_cast<std::size_t>(f.ErrorCount + f.WarningCount);
    });
  } catch (const std::exception&) {
    c.Failed = true;
  }
  return c;
}

// The valid samples with the Belgian postal codes of their addresses replaced by codes of the
// large referential, kept only when every message of the line is free of findings.
std::vector<std::string> ValidCorpus(ruvala::IEdiDocument* doc, const verimek::TValidationSettings& s,
                                     const std::string& referential) {
  std::vector<std::string> zips;
  {
    verimek::TDatabase ref(referential, false);
    for (auto t = ref.GetTable("select ZipCode from POSTAL where C_Country = 'B' and Datdel is null order by ZipCode");
         !t->Eof(); t->Next())
      zips.push_back(t->AsString("ZipCode"));
  }
  const std::vector<std::string> base = ReadLines(EDI_SHARED_DIR "/samples/valid.txt");
  std::vector<std::string> corpus;
  for (std::size_t z = 0; corpus.size() < 1000 && z < zips.size(); ++z)
    for (const std::string& line : base) {
      std::string m = line;
      // "ADR+001+street+zip+city+B'": the zip of each Belgian address.
      for (std::size_t at = 0, k = 0; (at = m.find("'ADR+", at)) != std::string::npos; ++at, ++k) {
        std::size_t end = m.find('\'', at + 1);
        std::size_t b = m.rfind("+B", end);
        if (end == std::string::npos || b == std::string::npos || b < at || b + 2 != end) continue;
        std::size_t city = m.rfind('+', b - 1), zip = m.rfind('+', city - 1);
        if (zip <= at) continue;
        m.replace(zip + 1, city - zip - 1, zips[(z * 7 + k * 13) % zips.size()]);
      }
      TCounts c = ValidateLine(doc, s, m);
      if (!c.Failed && c.Findings == 0) corpus.push_back(m);
    }
  return corpus;
}

// The sample lines that give at least one finding with the file worker's settings.
std::vector<std::string> FindingsCorpus(ruvala::IEdiDocument* doc, const verimek::TValidationSettings& s) {
  std::vector<std::string> corpus;
  for (const std::string& line : ReadLines(EDI_SHARED_DIR "/samples/with-findings.txt")) {
    TCounts c = ValidateLine(doc, s, line);
    if (!c.Failed && c.Findings > 0) corpus.push_back(line);
  }
  return corpus;
}

// Outcomes validated beforehand, handed out in file order: the file worker then only encodes
// (unless the bodies came encoded) and stores, as the storing side of a run does.
class TPrecomputedLineSource final : public verimek::TLineSource {
 public:
  explicit TPrecomputedLineSource(const std::vector<verimek::TLineOutcome>& outcomes) : FOutcomes(outcomes) {}
  void Begin(verimek::TLineReader& reader, std::size_t) override { FReader = &reader; }
  bool Next(std::string& line, verimek::TLineOutcome& outcome) override {
    if (!FReader->ReadLine(line)) return false;
    outcome = FOutcomes[FIndex++ % FOutcomes.size()];
    return true;
  }
  void End() override {}

 private:
  const std::vector<verimek::TLineOutcome>& FOutcomes;
  verimek::TLineReader* FReader = nullptr;
  std::size_t FIndex = 0;
};

// The storing side alone over the file, on this thread: the fastest run, negative on failure.
TTiming StoreAlone(const std::string& file, const std::string& db, const std::vector<verimek::TLineOutcome>& outcomes,
                   int repeat) {
  TTiming best;
  for (int r = 0; r < repeat; ++r) {
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
    verimek::TDirectWorkerHost host;
    verimek::TValidateFileWorker worker(host, verimek::TComponentFactory{}, file, db);
    TPrecomputedLineSource source(outcomes);
    worker.LineSource = &source;
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    auto t0 = Clock::now();
    worker.Start();
    best.Take(Seconds(t0), CpuSeconds(RUSAGE_SELF) - cpu0);
    if (!worker.LastError().empty()) {
      std::fprintf(stderr, "bench: storing alone failed (%s)\n", worker.LastError().c_str());
      best.Wall = -1;
      return best;
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t n = 20000;
  int repeat = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--lines") n = std::strtoul(argv[i + 1], nullptr, 10);
    if (a == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::string bin = common::ExtractFilePath(common::ProgramFileName());
  const std::string cli = bin + "verimek-cli";
  const std::string refDir = bench::LargeSampleDir();
  if (refDir.empty()) return 2;
  const std::string referential = refDir + "/referential.db";
  std::string work = common::TempFolder() + "bench-validate-XXXXXX";
  if (!mkdtemp(work.data())) return 2;
  // Temporary hives, inherited by every verimek-cli started below.
  ::setenv("TARNHOLT_MACHINE_HIVE", (work + "/machine.reg").c_str(), 1);
  ::setenv("TARNHOLT_USER_HIVE", (work + "/user.reg").c_str(), 1);
  const std::string quiet = " >/dev/null 2>&1";
  if (!Run("'" + cli + "' register '" + bin + "../lib/libkalvix.so' '" + bin + "../lib/libruvala.so'" + quiet) ||
      !Run("'" + cli + "' config referential '" + referential + "'" + quiet)) {
    std::fprintf(stderr, "bench: cannot register the components\n");
    std::filesystem::remove_all(work);
    return 2;
  }

  CoInitialize(nullptr);
  int status = 0;
  {
    edicom::ComPtr<ruvala::IEdiDocument> doc = verimek::TComponentFactory::ByClassId().CreateDocument();
    verimek::TValidationSettings s;
    verimek::ParseIsoDate(kDate, s.MessageDate);
    const std::pair<const char*, std::vector<std::string>> corpora[] = {
        {"valid", ValidCorpus(doc.Get(), s, referential)}, {"findings", FindingsCorpus(doc.Get(), s)}};

    std::printf("%zu lines per file, best of %d runs; corpus: %zu valid variants, %zu lines with findings\n", n, repeat,
                corpora[0].second.size(), corpora[1].second.size());
    std::printf("%-9s %9s %10s %11s %11s %11s %9s %9s\n", "file", "messages", "findings", "engine/s", "validate/s",
                "jobs2/s", "db-ratio", "speedup");
    std::vector<std::string> cpu, stages;
    for (const auto& [label, corpus] : corpora) {
      if (corpus.empty()) {
        std::fprintf(stderr, "bench: empty %s corpus\n", label);
        status = 2;
        continue;
      }
      const std::string file = work + "/" + label + ".txt";
      std::vector<std::string> lines;
      {
        std::ofstream out(file, std::ios::binary);
        for (std::size_t i = 0; i < n; ++i) {
          lines.push_back(corpus[i % corpus.size()]);
          out << lines.back() << "\r\n";
        }
      }
      // The engine alone: the file worker's calls for every line, lines in memory, no database.
      TTiming engine;
      TCounts total;
      for (int r = 0; r < repeat; ++r) {
        total = TCounts();
        const double cpu0 = CpuSeconds(RUSAGE_SELF);
        auto t0 = Clock::now();
        for (const std::string& l : lines) {
          TCounts c = ValidateLine(doc.Get(), s, l);
          total.Messages += c.Messages;
          total.Findings += c.Findings;
        }
        engine.Take(Seconds(t0), CpuSeconds(RUSAGE_SELF) - cpu0);
      }
      auto cliRun = [&](const std::string& extra) {
        TTiming best;
        const std::string db = work + "/results.db";
        for (int r = 0; r < repeat; ++r) {
          for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
          const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
          auto t0 = Clock::now();
          if (!Run("'" + cli + "' validate '" + file + "' --db '" + db + "' --message-date " + kDate + extra + quiet)) {
            std::fprintf(stderr, "bench: verimek-cli validate%s failed\n", extra.c_str());
            status = 2;
          }
          best.Take(Seconds(t0), CpuSeconds(RUSAGE_CHILDREN) - cpu0);
        }
        return best;
      };
      // Each stage of a run alone on the same lines: encoding and storing, and storing bodies
      // encoded elsewhere (the storing process of --jobs).
      std::vector<verimek::TLineOutcome> plain, encoded;
      for (std::size_t i = 0; i < std::min(n, corpus.size()); ++i) {
        plain.push_back(verimek::ValidateLineOutcome(doc.Get(), s, corpus[i], /*EncodeBodies=*/false));
        encoded.push_back(verimek::ValidateLineOutcome(doc.Get(), s, corpus[i], /*EncodeBodies=*/true));
      }
      const std::string storeDb = work + "/store.db";
      const TTiming storeT = StoreAlone(file, storeDb, plain, repeat);
      const TTiming storeOnlyT = StoreAlone(file, storeDb, encoded, repeat);
      if (storeT.Wall < 0 || storeOnlyT.Wall < 0) status = 2;
      const double store = storeT.Wall, storeOnly = storeOnlyT.Wall;
      const TTiming one = cliRun("");
      const TTiming two = cliRun(" --jobs 2");
      const double m = static_cast<double>(total.Messages);
      std::printf("%-9s %9zu %10zu %11.0f %11.0f %11.0f %9.2f %9.2f\n", label, total.Messages, total.Findings,
                  m / engine.Wall, m / one.Wall, m / two.Wall, engine.Wall / one.Wall, one.Wall / two.Wall);
      const double slower = std::max(engine.Wall, store);
      stages.push_back(common::Fmt("%-9s %11s %11s %11s %11s %11s %11s", label,
                                   common::Fmt("%.2f", engine.Wall * 1e6 / m), common::Fmt("%.2f", store * 1e6 / m),
                                   common::Fmt("%.2f", storeOnly * 1e6 / m), common::Fmt("%.2f", one.Wall * 1e6 / m),
                                   common::Fmt("%.2f", slower / one.Wall),
                                   common::Fmt("%.2f", storeOnly / engine.Wall)));
      cpu.push_back(common::Fmt("%-9s %11s %11s %11s %11s %11s", label, common::Fmt("%.1f", engine.Cpu * 1e6 / m),
                                common::Fmt("%.1f", storeT.Cpu * 1e6 / m),
                                common::Fmt("%.1f", storeOnlyT.Cpu * 1e6 / m), common::Fmt("%.1f", one.Cpu * 1e6 / m),
                                common::Fmt("%.1f", two.Cpu * 1e6 / m)));
    }
    std::printf("targets: db-ratio (validate/s over engine/s) >= 0.80, speedup (jobs2/s over validate/s) >= 1.70\n");
    std::printf("wall time per message (us), each stage alone on the same lines, best of the runs:\n");
    std::printf("%-9s %11s %11s %11s %11s %11s %11s\n", "file", "engine", "enc+store", "store-only", "validate",
                "vs-slower", "store/eng");
    for (const std::string& line : stages) std::printf("%s\n", line.c_str());
    std::printf(
        "targets: vs-slower (slower stage alone over validate) >= 0.80, store/eng (storing bodies encoded "
        "elsewhere over the engine) <= 0.33\n");
    std::printf("processor time per message (us, user + system, all processes):\n%-9s %11s %11s %11s %11s %11s\n",
                "file", "engine", "enc+store", "store-only", "validate", "jobs2");
    for (const std::string& line : cpu) std::printf("%s\n", line.c_str());
  }
  CoUninitialize();
  std::filesystem::remove_all(work);
  return status;
}
