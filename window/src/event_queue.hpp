// The one queue of window events that the core owns: every backend posts
// what its window system reports, raw, and the core delivers it in order
// (form.cpp). Posting is thread-safe (a page has one thread, and takes no
// lock); taking swaps between two vectors that keep their capacity, so a
// steady stream of events allocates nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "window/platform.hpp"

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

/// A window event as the window system reported it.
struct Event {
  enum Kind {
    kMove,    ///< the pointer, or a finger, moved
    kClose,   ///< a close was asked for
    kExpose,  ///< the window's pixels need drawing again (exposed, resized)
    kScale,   ///< the window's scale changed to `scale`
  } kind;
  /// kMove: the position, counted in pixels of which `scale` make one client
  /// pixel (1: client pixels already; 0: the window's device pixels, at the
  /// scale the window has when the event is delivered).
  float x = 0.0f, y = 0.0f;
  float scale = 0.0f;
  std::int16_t button = 0, shift = 0;  ///< kMove: MouseButtons and ShiftKeys bits
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
  /// What was queued before the call, in order; valid until the next Take.
  const std::vector<Event>& Take() {
    taken_.clear();
    const std::lock_guard<QueueMutex> lock(mutex_);
    taken_.swap(queue_);
    return taken_;
  }

 private:
  mutable QueueMutex mutex_;
#ifndef __EMSCRIPTEN__
  std::condition_variable arrived_;
#endif
  std::vector<Event> queue_, taken_;
};

}  // namespace window::detail
