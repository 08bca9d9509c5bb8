#include "tovik/network/transport_error.h"

#include <curl/curl.h>

#include <string>

namespace tovik {

namespace {

bool isCertificateFailure(CURLcode code) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
      return true;
    default:
      return false;
  }
}

std::string displayText(CURLcode code) {
  switch (TransportError::kindOf(code)) {
    case TransportError::Kind::cannotConnect:
      return "无法连接到服务器";
    case TransportError::Kind::hostNotFound:
      return "未能找到使用指定主机名的服务器";
    case TransportError::Kind::timedOut:
      return "请求超时";
    case TransportError::Kind::tls:
      return isCertificateFailure(code) ? "无法建立安全连接（TLS 证书校验失败）" : "无法建立安全连接（TLS 握手失败）";
    case TransportError::Kind::connectionLost:
      return "网络连接已中断";
    case TransportError::Kind::other:
      break;
  }
  return std::string("网络连接错误：") + curl_easy_strerror(code);
}

}  // namespace

TransportError::Kind TransportError::kindOf(long curlCode) {
  const auto code = static_cast<CURLcode>(curlCode);
  if (isCertificateFailure(code)) {
    return Kind::tls;
  }
  switch (code) {
    case CURLE_COULDNT_CONNECT:
      return Kind::cannotConnect;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Kind::hostNotFound;
    case CURLE_OPERATION_TIMEDOUT:
      return Kind::timedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
      return Kind::tls;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return Kind::connectionLost;
    default:
      return Kind::other;
  }
}

Error TransportError::fromCurlCode(int curlCode) {
  const auto code = static_cast<CURLcode>(curlCode);
  return Error(std::string(kDomain), curlCode, displayText(code));
}

}  // namespace tovik
