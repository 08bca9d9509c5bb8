#include "tovik/system/error.h"

#include <cerrno>
#include <utility>

namespace tovik {

Error::Error(std::string domain, long code, std::string localizedDescription)
    : domain_(std::move(domain)), code_(code), localizedDescription_(std::move(localizedDescription)) {}

Error Error::withDescription(std::string description) const {
  Error copy = *this;
  copy.description_ = std::move(description);
  return copy;
}

Error Error::withUnderlying(Error underlying) const {
  Error copy = *this;
  copy.underlying_ = std::make_shared<const Error>(std::move(underlying));
  return copy;
}

std::string Error::description() const {
  if (description_) {
    return *description_;
  }
  std::string text = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                     localizedDescription_ + "\"";
  if (underlying_) {
    text += " UserInfo={NSUnderlyingError=" + underlying_->description() + "}";
  }
  return text;
}

std::string systemErrorText(int code) {
  switch (code) {
    case ENOENT:
      return "文件或目录不存在";
    case EACCES:
    case EPERM:
      return "没有访问权限";
    case EISDIR:
      return "是目录，不是文件";
    case EINVAL:
      return "不是普通文件或参数无效";
    case ECONNREFUSED:
      return "连接被拒绝";
    case ETIMEDOUT:
      return "连接超时";
    case EHOSTUNREACH:
    case ENETUNREACH:
      return "网络或主机不可达";
    case EAGAIN:
      return "系统资源暂时不足";
    case EIO:
      return "输入输出错误";
    default:
      return "系统错误（errno " + std::to_string(code) + "）";
  }
}

}  // namespace tovik
