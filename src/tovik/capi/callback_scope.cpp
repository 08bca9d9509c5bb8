#include "tovik/capi/callback_scope.h"

namespace tovik::capi {
namespace {

int& depth() noexcept {
  thread_local int value = 0;
  return value;
}

}  // namespace

CallbackScope::CallbackScope() noexcept { ++depth(); }

CallbackScope::~CallbackScope() { --depth(); }

bool CallbackScope::active() noexcept { return depth() > 0; }

}  // namespace tovik::capi
