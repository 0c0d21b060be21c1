// SPDX-License-Identifier: Apache-2.0
// Per-thread deadlines and cancel tokens behind ccAttention::check().
#include "platform/foundation/attention.h"

#include "platform/foundation/assert.h"

thread_local const ccAttention::Scope* ccAttention::top_ = nullptr;

void ccAttention::checkArmed() {
  bool anyDeadline = false;
  for (const Scope* s = top_; s != nullptr; s = s->outer_) {
    if (s->token_ && s->token_->load(std::memory_order_relaxed))
      throw ccTimeout(L"The operation was cancelled");
    anyDeadline = anyDeadline || s->hasDeadline_;
  }
  if (!anyDeadline) return;
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  for (const Scope* s = top_; s != nullptr; s = s->outer_) {
    if (s->hasDeadline_ && now >= s->deadline_) throw ccTimeout();
  }
}

void ccAttention::Scope::setDeadline(std::chrono::steady_clock::duration limit) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point now = Clock::now();
  hasDeadline_ = true;
  if (limit <= Clock::duration::zero()) {
    deadline_ = now;
  } else if (limit >= Clock::time_point::max() - now) {
    deadline_ = Clock::time_point::max();
  } else {
    deadline_ = now + limit;
  }
}

ccAttention::Scope::Scope(std::chrono::steady_clock::duration limit) : outer_(top_) {
  setDeadline(limit);
  top_ = this;
}

ccAttention::Scope::Scope(CancelToken token) : outer_(top_), token_(std::move(token)) {
  top_ = this;
}

ccAttention::Scope::Scope(std::chrono::steady_clock::duration limit, CancelToken token)
    : outer_(top_), token_(std::move(token)) {
  setDeadline(limit);
  top_ = this;
}

ccAttention::Scope::~Scope() {
  cstd_assert_(top_ == this);  // scopes must end in reverse order of their making
  top_ = outer_;
}
