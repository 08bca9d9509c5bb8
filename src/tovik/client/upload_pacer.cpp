#include "tovik/client/upload_pacer.h"

#include <algorithm>
#include <cmath>

#include "tovik/services/retry_budget.h"

namespace tovik {

std::optional<std::string> UploadPacer::holdReason(double now) const {
  if (outstanding_ > 0) {
    return "上一次定位上传尚未返回，跳过本次上传";
  }
  if (now < notBefore_) {
    return "服务要求暂缓请求，" + std::to_string(static_cast<long long>(std::ceil(notBefore_ - now))) +
           " 秒后恢复，跳过本次上传";
  }
  return std::nullopt;
}

void UploadPacer::settled(const TkError* failure, double interval, double now) {
  outstanding_ = std::max(0, outstanding_ - 1);
  const bool pushedBack =
      failure != nullptr && failure->domain == TkErrorDomain::http && (failure->code == 429 || failure->code == 503);
  if (failure == nullptr) {
    step_ = 0;
    notBefore_ = 0.0;
    return;
  }
  if (!pushedBack) {
    return;  // other failures change nothing: the next tick tries again
  }
  const double wait =
      failure->retryAfter ? *failure->retryAfter : fullJitterDelay(std::max(interval, 0.1), step_++, kLongestHold);
  notBefore_ = std::max(notBefore_, now + wait);
}

}  // namespace tovik
