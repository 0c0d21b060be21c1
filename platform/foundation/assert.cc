// SPDX-License-Identifier: Apache-2.0
// Reporting of failed internal checks.
#include "platform/foundation/assert.h"

#include <atomic>
#include <cstdio>

namespace {

void defaultHandler(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "ccalib: internal check failed: %s (%s:%d)\n", condition, file, line);
}

std::atomic<ccAssertion::Handler> gHandler{&defaultHandler};
thread_local unsigned long tFailures = 0;

}  // namespace

void ccAssertion::fail(const char* condition, const char* file, int line) {
  ++tFailures;
  Handler h = gHandler.load();
  if (h != nullptr) h(condition, file, line);
}

unsigned long ccAssertion::failureCount() {
  return tFailures;
}

ccAssertion::Handler ccAssertion::setHandler(Handler handler) {
  return gHandler.exchange(handler != nullptr ? handler : &defaultHandler);
}
