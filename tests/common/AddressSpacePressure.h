// A client whose address space is already busy, as a Qt program or a sanitizer build is: a
// large untouched reservation and a few hundred idle threads, held for the life of the object.
#pragma once

#include <sys/mman.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace dbtest {

class TAddressSpacePressure {
 public:
  TAddressSpacePressure(std::size_t reserveBytes, int threads) : FSize(reserveBytes) {
    // Writable but never touched: no memory is used, yet the mapping counts as data of the
    // process, as a sanitizer's shadow does.
    void* p = mmap(nullptr, FSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    FReserved = p == MAP_FAILED ? nullptr : p;
    for (int i = 0; i < threads; ++i)
      FThreads.emplace_back([this] {
        std::unique_lock<std::mutex> lock(FMutex);
        FWake.wait(lock, [this] { return FDone; });
      });
  }
  ~TAddressSpacePressure() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FDone = true;
    }
    FWake.notify_all();
    for (std::thread& t : FThreads) t.join();
    if (FReserved) munmap(FReserved, FSize);
  }
  TAddressSpacePressure(const TAddressSpacePressure&) = delete;
  TAddressSpacePressure& operator=(const TAddressSpacePressure&) = delete;

  bool Held() const { return FReserved != nullptr; }

 private:
  std::size_t FSize;
  void* FReserved = nullptr;
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FDone = false;
  std::vector<std::thread> FThreads;
};

}  // namespace dbtest
