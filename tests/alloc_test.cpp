// Once the window is up, a frame allocates nothing: every heap allocation of
// the process (ours, the C++ library's and SDL's) is counted around a few
// hundred frames of a window with the pointer moving, on the null backend
// and on the platform's own (SDL's dummy driver; a real window on Windows).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstddef>

#include "form1.hpp"
#include "headless.hpp"

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
void Count() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  Count();
  return __libc_realloc(pointer, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  Count();
  *out = __libc_memalign(alignment, size);
  return *out ? 0 : 12;  // ENOMEM
}
}

namespace {

class SteadyState : public testing::TestWithParam<bool> {};

TEST_P(SteadyState, FramesAllocateNothing) {
  Headless run(GetParam() ? UseRealBackend() : kNull);
  app::Form1& form = run.form;
  const auto frame = [&form](int i) {
    form.Window().PostMouseMove(100 + i % 300, 80 + (i * 7) % 200);
    form.RunFrame();
  };
  for (int i = 0; i < 50; ++i) frame(i);  // warm-up: SDL's queues and command buffers grow
  allocations = 0;
  counting = true;
  for (int i = 50; i < 350; ++i) frame(i);
  counting = false;
  EXPECT_EQ(allocations.load(), 0) << "heap allocations in 300 frames";
  EXPECT_EQ(form.Steps(), 350u);

  // The counter does see allocations: a copy of the picture allocates.
  counting = true;
  const window::Snapshot shot = form.Window().Presented();
  counting = false;
  EXPECT_GT(allocations.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backend, SteadyState, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Real" : "Null"; });

}  // namespace
