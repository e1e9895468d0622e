// The window events of the backends that queue them as they arrive (Wayland,
// the page, the null backend), delivered by the pump in order. Posting is
// thread-safe (a page has one thread, and takes no lock); delivering swaps
// between two vectors that keep their capacity, so a steady stream of events
// allocates nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "backend.hpp"

namespace window::detail {

#ifdef __EMSCRIPTEN__
// Nothing to lock, and none of std::mutex's failure path, whose error
// messages the page would otherwise download.
struct QueueMutex {
  void lock() {}
  void unlock() {}
};
#else
using QueueMutex = std::mutex;
#endif

struct Event {
  enum Kind { kMove, kClose, kInvalidate, kRescale } kind;
  float x = 0.0f, y = 0.0f;  // client pixels
  std::int16_t button = 0, shift = 0;
};

class EventQueue {
 public:
  void Post(const Event& e) {
    {
      const std::lock_guard<QueueMutex> lock(mutex_);
      queue_.push_back(e);
    }
#ifndef __EMSCRIPTEN__
    arrived_.notify_one();
#endif
  }
  bool Empty() const {
    const std::lock_guard<QueueMutex> lock(mutex_);
    return queue_.empty();
  }
  /// Sleeps until an event is queued (for a backend with no other wait).
  void Wait() {
#ifdef __EMSCRIPTEN__
    // One thread: nothing could post while this waited.
    if (queue_.empty()) throw Error("waiting for an event that nothing can send");
#else
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait(lock, [this] { return !queue_.empty(); });
#endif
  }
  /// Delivers what was queued before the call; a rescale runs `rescale`
  /// first, then counts as an invalidation. Stops once a close is accepted.
  void Deliver(BackendEvents& events, const std::function<void()>& rescale = {}) {
    {
      const std::lock_guard<QueueMutex> lock(mutex_);
      delivering_.swap(queue_);
    }
    for (const Event& e : delivering_) {
      if (events.Unloaded()) break;
      switch (e.kind) {
        case Event::kMove:
          events.MouseMoved(e.button, e.shift, e.x, e.y);
          break;
        case Event::kClose:
          events.CloseRequested();
          break;
        case Event::kRescale:
          if (rescale) rescale();
          [[fallthrough]];
        case Event::kInvalidate:
          events.Invalidated();
          break;
      }
    }
    delivering_.clear();
  }

 private:
  mutable QueueMutex mutex_;
#ifndef __EMSCRIPTEN__
  std::condition_variable arrived_;
#endif
  std::vector<Event> queue_, delivering_;
};

}  // namespace window::detail
