// maths-sweep: checks the chain's own arctangent, sine and cosine against
// MPFR on far more arguments than the tests can: every float in [0, 6.3]
// (every angle the chain can produce) through Sin and Cos, and any number of
// random doubles through Atan. Prints how many were checked and any result
// that is not the correctly rounded one, and can write the hardest
// arguments found (those nearest a midpoint between two doubles) for the
// tests. Runs on every core; the whole sweep takes a few hours of CPU time.
//
//   maths-sweep angles [--hard FILE]     every float in [0, 6.3], Sin and Cos
//   maths-sweep atan COUNT [--hard FILE] COUNT random doubles through Atan
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chain/maths.hpp"
#include "maths_paths.hpp"
#include "mpfr_reference.hpp"

namespace {

using reference::kAtan;
using reference::kCos;
using reference::kSin;
using Reference = reference::Mpfr;

struct Hard {
  double distance;  // of the exact value from the nearest midpoint, in units in the last place
  int fn;
  double x;
};

struct Tally {
  std::uint64_t checked[3] = {};
  std::uint64_t wrong[3] = {};
  std::uint64_t precise[3] = {};  // arguments the quick path left to the precise one
  std::vector<Hard> hardest;
  std::vector<std::string> misses;
};

void Check(Reference& ref, Tally& tally, int fn, double x) {
  const double got = reference::Ours(fn, x);
  const double want = ref.Rounded(fn, x);
  ++tally.checked[fn];
  if (std::memcmp(&got, &want, sizeof got) != 0 && !(std::isnan(got) && std::isnan(want))) {
    ++tally.wrong[fn];
    char line[160];
    std::snprintf(line, sizeof line, "%s(%a) = %a, correctly rounded %a", reference::Name(fn), x,
                  got, want);
    tally.misses.push_back(line);
  }
  const chain::maths_paths::Quick q = fn == kAtan  ? chain::maths_paths::AtanQuick(x)
                                      : fn == kSin ? chain::maths_paths::SinQuick(x)
                                                   : chain::maths_paths::CosQuick(x);
  if (!q.decided) {
    ++tally.precise[fn];
    tally.hardest.push_back({ref.Distance(fn, x, want), fn, x});
    // Keep the list short: the 64 hardest of each function survive.
    if (tally.hardest.size() > 4096) {
      std::sort(tally.hardest.begin(), tally.hardest.end(),
                [](const Hard& a, const Hard& b) { return a.distance < b.distance; });
      tally.hardest.resize(1024);
    }
  }
}

// Runs `work(chunk, tally)` for chunks 0 .. count-1 on every core.
template <typename Work>
Tally RunChunks(std::uint64_t count, Work work) {
  std::atomic<std::uint64_t> next{0};
  std::mutex merge;
  Tally total;
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      Reference ref;
      Tally mine;
      for (std::uint64_t chunk; (chunk = next++) < count;) {
        work(ref, mine, chunk);
        if (chunk % std::max<std::uint64_t>(1, count / 20) == 0)
          std::fprintf(stderr, "maths-sweep: %llu of %llu chunks\n",
                       static_cast<unsigned long long>(chunk),
                       static_cast<unsigned long long>(count));
      }
      const std::lock_guard<std::mutex> lock(merge);
      for (int f = 0; f < 3; ++f) {
        total.checked[f] += mine.checked[f];
        total.wrong[f] += mine.wrong[f];
        total.precise[f] += mine.precise[f];
      }
      total.hardest.insert(total.hardest.end(), mine.hardest.begin(), mine.hardest.end());
      total.misses.insert(total.misses.end(), mine.misses.begin(), mine.misses.end());
    });
  }
  for (std::thread& t : pool) t.join();
  mpfr_free_cache();
  return total;
}

std::uint64_t Mix(std::uint64_t v) {  // splitmix64: the same numbers on every system
  v += 0x9E3779B97F4A7C15ull;
  v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ull;
  v = (v ^ (v >> 27)) * 0x94D049BB133111EBull;
  return v ^ (v >> 31);
}

// The n-th random argument of the arctangent: a quarter as the chain makes
// them (a quotient of two float differences), a quarter log-uniform over
// 2^-30 .. 2^60, half any finite double.
double AtanArgument(std::uint64_t n) {
  const std::uint64_t r = Mix(n);
  double x = 0.0;
  switch (r & 3) {
    case 0: {
      const float a = static_cast<float>(static_cast<std::int32_t>(r >> 32) % 500000) / 1000.0f;
      const float b =
          static_cast<float>(static_cast<std::int32_t>((r >> 2) & 0x3FFFFFFF) % 500000 + 1) /
          1000.0f;
      x = static_cast<double>(a) / static_cast<double>(b);
      break;
    }
    case 1:
      x = std::ldexp(1.0 + static_cast<double>(r >> 12) * 0x1p-52,
                     static_cast<int>((r >> 2) % 91) - 30);
      break;
    default: {
      std::uint64_t bits = Mix(r);
      std::memcpy(&x, &bits, sizeof x);
      if (!std::isfinite(x)) x = static_cast<double>(bits >> 11);
    }
  }
  return (r >> 7) & 1 ? -x : x;
}

// Every float from +0 up to 6.3 through Sin and Cos: their bit patterns are
// consecutive.
Tally SweepAngles() {
  constexpr std::uint64_t kChunk = 1 << 20;
  const float top = 6.3f;
  std::uint32_t last = 0;
  std::memcpy(&last, &top, sizeof last);
  return RunChunks(last / kChunk + 1, [&](Reference& ref, Tally& mine, std::uint64_t chunk) {
    const std::uint64_t end = std::min<std::uint64_t>((chunk + 1) * kChunk, last + 1ull);
    for (std::uint64_t bits = chunk * kChunk; bits < end; ++bits) {
      const std::uint32_t b = static_cast<std::uint32_t>(bits);
      float f = 0.0f;
      std::memcpy(&f, &b, sizeof f);
      Check(ref, mine, kSin, f);
      Check(ref, mine, kCos, f);
    }
  });
}

// `count` arguments of AtanArgument through Atan.
Tally SweepAtan(std::uint64_t count) {
  constexpr std::uint64_t kChunk = 1 << 20;
  return RunChunks((count + kChunk - 1) / kChunk,
                   [&](Reference& ref, Tally& mine, std::uint64_t chunk) {
                     const std::uint64_t end = std::min(count, (chunk + 1) * kChunk);
                     for (std::uint64_t n = chunk * kChunk; n < end; ++n)
                       Check(ref, mine, kAtan, AtanArgument(n));
                   });
}

// The hardest arguments, nearest a midpoint first, 64 a function at most.
bool WriteHardest(Tally& tally, const char* file, const char* sweep) {
  std::sort(tally.hardest.begin(), tally.hardest.end(),
            [](const Hard& a, const Hard& b) { return a.distance < b.distance; });
  std::FILE* out = std::fopen(file, "w");
  if (!out) {
    std::perror(file);
    return false;
  }
  std::fprintf(out,
               "# The hardest arguments maths-sweep %s found: function, argument, how far\n"
               "# the exact value lies from a midpoint, in units in the last place.\n",
               sweep);
  int kept[3] = {};
  for (const Hard& h : tally.hardest)
    if (kept[h.fn]++ < 64)
      std::fprintf(out, "%s %a %.3g\n", reference::Name(h.fn), h.x, h.distance);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || (std::strcmp(argv[1], "angles") != 0 && std::strcmp(argv[1], "atan") != 0)) {
    std::fprintf(stderr, "usage: maths-sweep angles [--hard FILE] | atan COUNT [--hard FILE]\n");
    return 2;
  }
  const bool angles = std::strcmp(argv[1], "angles") == 0;
  const char* hardFile = nullptr;
  std::uint64_t count = 0;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--hard") == 0 && i + 1 < argc)
      hardFile = argv[++i];
    else if (!angles && count == 0)
      count = std::strtoull(argv[i], nullptr, 10);
  }
  if (!angles && count == 0) {
    std::fprintf(stderr, "maths-sweep: atan needs a count\n");
    return 2;
  }
  Tally tally = angles ? SweepAngles() : SweepAtan(count);
  for (int f = 0; f < 3; ++f) {
    if (tally.checked[f] == 0) continue;
    std::printf(
        "%s: %llu arguments checked, %llu not correctly rounded, %llu decided by the precise "
        "path\n",
        reference::Name(f), static_cast<unsigned long long>(tally.checked[f]),
        static_cast<unsigned long long>(tally.wrong[f]),
        static_cast<unsigned long long>(tally.precise[f]));
  }
  for (const std::string& miss : tally.misses) std::printf("miss: %s\n", miss.c_str());
  if (hardFile && !WriteHardest(tally, hardFile, argv[1])) return 1;
  return tally.misses.empty() ? 0 : 1;
}
