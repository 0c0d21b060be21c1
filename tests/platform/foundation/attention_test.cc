// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/attention.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Calls check() until it throws or `limit` passes; true when it threw ccTimeout.
bool stopsWithin(steady_clock::duration limit) {
  steady_clock::time_point giveUp = steady_clock::now() + limit;
  try {
    while (steady_clock::now() < giveUp) ccAttention::check();
  } catch (const ccTimeout&) {
    return true;
  }
  return false;
}

TEST(Attention, UnarmedNeverThrowsAndDeadlinesExpire) {
  EXPECT_NO_THROW(ccAttention::check());
  {
    ccAttention::Scope scope(std::chrono::hours(1));
    EXPECT_NO_THROW(ccAttention::check());
  }
  {
    ccAttention::Scope scope(milliseconds(20));
    EXPECT_TRUE(stopsWithin(std::chrono::seconds(10)));
  }
  {
    ccAttention::Scope expired(milliseconds(-5));
    EXPECT_THROW(ccAttention::check(), ccTimeout);
  }
  {
    ccAttention::Scope forever(steady_clock::duration::max());  // must not overflow the clock
    EXPECT_NO_THROW(ccAttention::check());
  }
  EXPECT_NO_THROW(ccAttention::check());
}

TEST(Attention, TokenRaisedFromAnotherThreadStopsALoop) {
  ccAttention::CancelToken token = ccAttention::makeToken();
  ccAttention::Scope scope(token);
  EXPECT_NO_THROW(ccAttention::check());
  std::thread canceller([token] {
    std::this_thread::sleep_for(milliseconds(20));
    token->store(true);
  });
  bool stopped = stopsWithin(std::chrono::seconds(10));
  canceller.join();
  EXPECT_TRUE(stopped);
}

TEST(Attention, NestedScopesNeverLoosenOuterLimitsAndRestoreOnExit) {
  ccAttention::CancelToken outerToken = ccAttention::makeToken();
  ccAttention::CancelToken innerToken = ccAttention::makeToken();
  {
    ccAttention::Scope outer(std::chrono::hours(1), outerToken);
    {
      ccAttention::Scope inner(innerToken);
      outerToken->store(true);  // the outer caller cancels while the inner scope lives
      EXPECT_THROW(ccAttention::check(), ccTimeout);
      outerToken->store(false);
      innerToken->store(true);
      EXPECT_THROW(ccAttention::check(), ccTimeout);
    }
    EXPECT_NO_THROW(ccAttention::check()) << "the inner token must not outlive its scope";
    {
      ccAttention::Scope inner(milliseconds(0));
      EXPECT_THROW(ccAttention::check(), ccTimeout);
    }
    EXPECT_NO_THROW(ccAttention::check());
  }
  {
    ccAttention::Scope outer(milliseconds(0));
    ccAttention::Scope inner(std::chrono::hours(1));  // cannot extend the expired outer limit
    EXPECT_THROW(ccAttention::check(), ccTimeout);
  }
  EXPECT_NO_THROW(ccAttention::check());
}

}  // namespace
