// Cooperative cancellation. Long operations call ccAttention::check() between stages; a
// caller arms the check for its own thread with a deadline or cancels explicitly (from any
// thread, through the token). When nothing is armed check() costs one thread-local load.
#ifndef PLATFORM_FOUNDATION_ATTENTION_H
#define PLATFORM_FOUNDATION_ATTENTION_H

#include <atomic>
#include <chrono>
#include <memory>

#include "ccalib_export.h"
#include "platform/foundation/exception.h"

class CCALIB_EXPORT ccAttention {
 public:
  // A flag another thread can raise to cancel the calling thread's work.
  using CancelToken = std::shared_ptr<std::atomic<bool>>;

  // Throws ccTimeout when the calling thread's deadline has passed or its token is raised.
  static void check() {
    if (armed_) checkArmed();
  }

  // Arms the calling thread while the scope lives; the previous state comes back after.
  class CCALIB_EXPORT Scope {
   public:
    // Deadline after `limit` from now (a non-positive limit expires at the first check).
    explicit Scope(std::chrono::steady_clock::duration limit);
    // Cancellation through the token only.
    explicit Scope(CancelToken token);
    Scope(std::chrono::steady_clock::duration limit, CancelToken token);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    bool savedArmed_;
    bool savedHasDeadline_;
    std::chrono::steady_clock::time_point savedDeadline_;
    CancelToken savedToken_;
  };

  static CancelToken makeToken() { return std::make_shared<std::atomic<bool>>(false); }

 private:
  static void checkArmed();
  static thread_local bool armed_;
};

#endif  // PLATFORM_FOUNDATION_ATTENTION_H
