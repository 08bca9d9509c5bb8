#include "tovik/network/transport_error.h"

#include <curl/curl.h>

#include <string>

namespace tovik {

namespace {

std::string displayText(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
      return "无法连接到服务器";
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "未能找到使用指定主机名的服务器";
    case CURLE_OPERATION_TIMEDOUT:
      return "请求超时";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
      return "无法建立安全连接（TLS 证书校验失败）";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
      return "无法建立安全连接（TLS 握手失败）";
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return "网络连接已中断";
    default:
      return std::string("网络连接错误：") + curl_easy_strerror(code);
  }
}

}  // namespace

Error TransportError::fromCurlCode(int curlCode) {
  const auto code = static_cast<CURLcode>(curlCode);
  return Error(std::string(kDomain), curlCode, displayText(code));
}

}  // namespace tovik
