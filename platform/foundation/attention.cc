// Per-thread deadlines and cancel tokens behind ccAttention::check().
#include "platform/foundation/attention.h"

namespace {

thread_local bool tHasDeadline = false;
thread_local std::chrono::steady_clock::time_point tDeadline;
thread_local ccAttention::CancelToken tToken;

}  // namespace

thread_local bool ccAttention::armed_ = false;

void ccAttention::checkArmed() {
  if (tToken && tToken->load(std::memory_order_relaxed)) throw ccTimeout(L"The operation was cancelled");
  if (tHasDeadline && std::chrono::steady_clock::now() >= tDeadline) throw ccTimeout();
}

ccAttention::Scope::Scope(std::chrono::steady_clock::duration limit)
    : savedArmed_(armed_), savedHasDeadline_(tHasDeadline), savedDeadline_(tDeadline), savedToken_(tToken) {
  tHasDeadline = true;
  tDeadline = std::chrono::steady_clock::now() + limit;
  armed_ = true;
}

ccAttention::Scope::Scope(CancelToken token)
    : savedArmed_(armed_), savedHasDeadline_(tHasDeadline), savedDeadline_(tDeadline), savedToken_(tToken) {
  tToken = std::move(token);
  armed_ = true;
}

ccAttention::Scope::Scope(std::chrono::steady_clock::duration limit, CancelToken token)
    : savedArmed_(armed_), savedHasDeadline_(tHasDeadline), savedDeadline_(tDeadline), savedToken_(tToken) {
  tHasDeadline = true;
  tDeadline = std::chrono::steady_clock::now() + limit;
  tToken = std::move(token);
  armed_ = true;
}

ccAttention::Scope::~Scope() {
  armed_ = savedArmed_;
  tHasDeadline = savedHasDeadline_;
  tDeadline = savedDeadline_;
  tToken = std::move(savedToken_);
}
