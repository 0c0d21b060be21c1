// SPDX-License-Identifier: Apache-2.0
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

  // Throws ccTimeout when a deadline of any live scope on the calling thread has passed or
  // the token of any of them is raised.
  static void check() {
    if (top_ != nullptr) checkArmed();
  }

  // Arms the calling thread while the scope lives. Scopes nest: an inner scope adds its
  // deadline and token to those of the outer ones (it can shorten but never lengthen the
  // time left, and never hide an outer token), and the state before it comes back when it
  // ends. Scopes live on the stack of the thread that made them and end in reverse order.
  class CCALIB_EXPORT Scope {
   public:
    // Deadline after `limit` from now; a non-positive limit expires at the first check, and
    // a limit beyond the clock's range never expires.
    explicit Scope(std::chrono::steady_clock::duration limit);
    // Cancellation through the token only (a null token arms nothing of its own).
    explicit Scope(CancelToken token);
    Scope(std::chrono::steady_clock::duration limit, CancelToken token);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    friend class ccAttention;
    void setDeadline(std::chrono::steady_clock::duration limit);

    const Scope* outer_;
    bool hasDeadline_ = false;
    std::chrono::steady_clock::time_point deadline_;
    CancelToken token_;
  };

  static CancelToken makeToken() { return std::make_shared<std::atomic<bool>>(false); }

 private:
  static void checkArmed();
  static thread_local const Scope* top_;  // innermost live scope of this thread, or null
};

#endif  // PLATFORM_FOUNDATION_ATTENTION_H
