// Index from a lookup's key fields to the first row in load order that has them.
//
// Open addressing over row positions: a lookup hashes its arguments as they come, compares them
// with the candidate row's own fields, and builds no key text, so it allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ruvala {

// Hash of one key field, folded into h. Referential codes are short: a field of up to eight
// bytes costs one multiplication, inline, which is cheaper than a call to the library's hash.
inline std::uint64_t HashField(std::string_view f, std::uint64_t h) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  const char* p = f.data();
  std::size_t n = f.size();
  for (; n > 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  // The last one to eight bytes as two overlapping loads (or three single bytes): a byte-wise
  // copy into a word would stall on reading it back.
  std::uint64_t w = 0;
  if (n >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    w = (std::uint64_t{a} << 32) | b;
  } else if (n > 0) {
    auto byte = [p](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
    w = (byte(0) << 16) | (byte(n / 2) << 8) | byte(n - 1);
  }
  h = (h ^ w ^ (f.size() * 0xD6E8FEB86659FD93ull)) * kMul;
  return h ^ (h >> 32);
}

// Hash of several key fields, each hashed whole with its length ("ab"+"c" and "a"+"bc" differ).
template <class... F>
inline std::uint64_t HashFields(const F&... fields) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull;
  ((h = HashField(std::string_view(fields), h)), ...);
  // The slot is taken from the low bits: spread every input bit over them.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

// Equality of two texts. Keys are a few bytes long: a plain loop beats a call to memcmp.
inline bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

class FirstRowIndex {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // Indexes rows 0 .. count-1 in load order: hashOf(i) is row i's key hash, sameKey(i, j) tells
  // whether rows i and j have equal keys. Of rows with equal keys the first is kept.
  template <class HashOf, class SameKey>
  void Build(std::size_t count, HashOf hashOf, SameKey sameKey) {
    std::size_t capacity = 16;
    while (capacity < count * 2) capacity <<= 1;  // at most half full: short probes
    FSlots.assign(capacity, Slot{});
    FMask = capacity - 1;
    FCount = 0;
    for (std::size_t i = 0; i < count; ++i) Add(hashOf(i), i, [&](std::size_t j) { return sameKey(j, i); });
  }

  // Adds one row, growing the table as needed, unless a row with an equal key is there
  // (matches(j) compares row j with the new one). True when the row was added.
  template <class Matches>
  bool Add(std::uint64_t hash, std::size_t row, Matches matches) {
    if ((FCount + 1) * 2 > FSlots.size()) Grow();
    const auto h = static_cast<std::uint32_t>(hash);
    for (std::size_t s = h & FMask;; s = (s + 1) & FMask) {
      Slot& slot = FSlots[s];
      if (slot.Row == 0) {
        slot = {h, static_cast<std::uint32_t>(row + 1)};
        ++FCount;
        return true;
      }
      if (slot.Hash == h && matches(slot.Row - 1u)) return false;
    }
  }

  // Position of the first row whose key matches (matches(i) compares row i with the lookup's
  // arguments), or npos.
  template <class Matches>
  std::size_t Find(std::uint64_t hash, Matches matches) const {
    if (FSlots.empty()) return npos;
    const auto h = static_cast<std::uint32_t>(hash);
    for (std::size_t s = h & FMask;; s = (s + 1) & FMask) {
      const Slot& slot = FSlots[s];
      if (slot.Row == 0) return npos;
      if (slot.Hash == h && matches(slot.Row - 1u)) return slot.Row - 1u;
    }
  }

  void Clear() {
    FSlots.clear();
    FMask = 0;
    FCount = 0;
  }

 private:
  struct Slot {
    std::uint32_t Hash = 0;
    std::uint32_t Row = 0;  // position + 1; 0 marks an empty slot
  };
  // Twice the slots; the kept hashes place every row again without its key.
  void Grow() {
    std::vector<Slot> old = std::move(FSlots);
    FSlots.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    FMask = FSlots.size() - 1;
    for (const Slot& o : old)
      if (o.Row != 0)
        for (std::size_t s = o.Hash & FMask;; s = (s + 1) & FMask)
          if (FSlots[s].Row == 0) {
            FSlots[s] = o;
            break;
          }
  }

  std::vector<Slot> FSlots;
  std::size_t FMask = 0;
  std::size_t FCount = 0;
};

// Code -> position of the first row loaded with it, for the tables keyed by one code (segments,
// elements, composites...): the codes kept beside a FirstRowIndex over them.
class TCodeIndex {
 public:
  static constexpr std::size_t npos = FirstRowIndex::npos;

  // Adds code at position unless it is there already (the first row wins).
  void emplace(const std::string& code, std::size_t position) {
    if (FIndex.Add(HashFields(code), FCodes.size(), [&](std::size_t r) { return SameBytes(FCodes[r], code); })) {
      FCodes.push_back(code);
      FPositions.push_back(position);
    }
  }

  std::size_t Find(std::string_view code) const {
    std::size_t r = FIndex.Find(HashFields(code), [&](std::size_t i) { return SameBytes(FCodes[i], code); });
    return r == npos ? npos : FPositions[r];
  }

  void clear() {
    FIndex.Clear();
    FCodes.clear();
    FPositions.clear();
  }

 private:
  FirstRowIndex FIndex;
  std::vector<std::string> FCodes;
  std::vector<std::size_t> FPositions;
};

}  // namespace ruvala
