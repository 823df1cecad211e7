// The referential: load time and memory of the large sample, and indexed lookups against the
// linear scans in load order that they replace. Usage: bench_referential [FILE.db|FILE.mdb]...
// Without arguments the large sample is built with make_sample.py into the temporary folder.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Platform.h"
#include "ecTelebib.h"

using namespace ruvala;
using bench::ResidentKb;
using Clock = std::chrono::steady_clock;

static volatile long gSink = 0;

template <class F>
// Best of five runs: on a shared machine a run that lost the processor for a while says
// nothing about the lookups.
static double PerSecond(long n, F&& f) {
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    auto t0 = Clock::now();
    long hits = 0;
    for (long i = 0; i < n; ++i) hits += f(i);
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    gSink = gSink + hits;  // the lookups must not be optimised away
    if (s < best) best = s;
  }
  return n / best;
}

static void Run(const std::string& path) {
  long before = ResidentKb();
  auto t0 = Clock::now();
  TTelebib ref;
  try {
    ref.SetAccessDbName(path);
  } catch (const std::exception& e) {
    std::printf("%s: %s\n", path.c_str(), e.what());
    return;
  }
  double load = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("%s\n  load %.3f s, resident +%.1f MB\n", path.c_str(), load, (ResidentKb() - before) / 1024.0);

  const auto& valeurs = ref.Valeurs();
  const auto& quals = ref.DeQualifiants();
  const auto& postals = ref.Postals();
  const auto& products = ref.Products();
  const TDate day = 45838;
  // The rows looked up, picked before timing so that the loops time the lookups alone.
  const long n = 200000, ns = 2000;
  auto picks = [&](const auto& rows) {
    std::vector<const std::remove_reference_t<decltype(rows[0])>*> out;
    for (long i = 0; i < n; ++i) out.push_back(&rows[(static_cast<std::size_t>(i) * 7919) % rows.size()]);
    return out;
  };
  const auto valeurPicks = picks(valeurs);
  const auto qualPicks = picks(quals);
  const auto postalPicks = picks(postals);
  const auto productPicks = picks(products);
  auto pick = [](const auto& sel, long i) -> const auto& { return *sel[static_cast<std::size_t>(i)]; };
  struct Row {
    const char* name;
    double indexed, scan;
  };
  std::vector<Row> rows;
  rows.push_back({"GetValeur",
                  PerSecond(n,
                            [&](long i) {
                              bool o;
                              const auto& r = pick(valeurPicks, i);
                              return ref.GetValeur(r.FKey, r.FValeur, day, o) ? 1 : 0;
                            }),
                  PerSecond(ns, [&](long i) {
                    const auto& r = pick(valeurPicks, i);
                    for (const auto& x : valeurs)
                      if (x.FKey == r.FKey && x.FValeur == r.FValeur) return 1;
                    return 0;
                  })});
  rows.push_back({"GetDeQualifiant",
                  PerSecond(n,
                            [&](long i) {
                              const auto& r = pick(qualPicks, i);
                              return ref.GetDeQualifiant(r.FKey, r.FQualifiant) ? 1 : 0;
                            }),
                  PerSecond(ns, [&](long i) {
                    const auto& r = pick(qualPicks, i);
                    for (const auto& x : quals)
                      if (x.FKey == r.FKey && x.FQualifiant == r.FQualifiant) return 1;
                    return 0;
                  })});
  rows.push_back({"GetPostal",
                  PerSecond(n,
                            [&](long i) {
                              const auto& r = pick(postalPicks, i);
                              return ref.GetPostal(r.FZipCode, r.FKey) ? 1 : 0;
                            }),
                  PerSecond(ns, [&](long i) {
                    const auto& r = pick(postalPicks, i);
                    for (const auto& x : postals)
                      if (x.FZipCode == r.FZipCode && x.FKey == r.FKey) return 1;
                    return 0;
                  })});
  rows.push_back({"GetProduct",
                  PerSecond(n,
                            [&](long i) {
                              const auto& r = pick(productPicks, i);
                              return ref.GetProduct(r.FKey, r.FProduct) ? 1 : 0;
                            }),
                  PerSecond(ns, [&](long i) {
                    const auto& r = pick(productPicks, i);
                    std::string oca = StripLeadingZeros(r.FKey);
                    for (const auto& x : products)
                      if (x.FKey == oca && x.FProduct == r.FProduct) return 1;
                    return 0;
                  })});
  for (const Row& r : rows)
    std::printf("  %-16s indexed %12.0f /s   scan %10.0f /s   x%.0f\n", r.name, r.indexed, r.scan, r.indexed / r.scan);
}

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty()) {
    std::string dir = bench::LargeSampleDir();
    if (dir.empty()) return 2;
    files.push_back(dir + "/referential.db");
    files.push_back(EDI_SHARED_DIR "/fixtures/access/referential.mdb");  // small: the Access reader
  }
  for (const std::string& f : files) Run(f);
  return 0;
}
