#include "tovik/network/curl_session.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tovik/network/transport_error.h"

namespace tovik {

namespace {

constexpr long kDefaultTimeoutMs = static_cast<long>(kRequestTimeoutInterval * 1000.0);
constexpr std::size_t kIdleHandlesKept = 32;

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// A time-out that is not a positive number would mean "wait for ever" to libcurl.
long timeoutMilliseconds(double seconds) {
  if (!(seconds > 0)) {
    return kDefaultTimeoutMs;
  }
  const double ms = std::ceil(seconds * 1000.0);
  return ms >= static_cast<double>(INT_MAX) ? INT_MAX : std::max(1L, static_cast<long>(ms));
}

struct Transfer {
  URLRequest request;
  CurlSession::CompletionHandler completion;
  HeaderList headers;
  std::string body;
  std::size_t limit = 0;
  bool bodyTooLarge = false;
  // The answer's header fields the kit reads, gathered as they arrive.
  HTTPHeaderFields answerHeaders;
  std::size_t keptHeaderLines = 0;
  std::size_t headerLines = 0;
  bool tooManyHeaderLines = false;
  // How often libcurl was about to send the request, and whether a second time was stopped.
  int sendAttempts = 0;
  bool resendRefused = false;
};

// At most this many answer header lines are kept, each value at most this long: what the
// kit reads is a line or two, and a hostile answer may carry tens of thousands.
constexpr std::size_t kKeptHeaderFields = 8;
constexpr std::size_t kKeptHeaderValue = 1024;
// An answer with more header lines than this is refused where the line arrives: libcurl
// compares every line with each field name it knows and stores it, which at tens of
// thousands of lines holds the worker, and every other exchange, for milliseconds. Real
// answers carry a few dozen.
constexpr std::size_t kMaxAnswerHeaderLines = 1000;

bool isKeptHeader(std::string_view name) {
  return std::ranges::any_of(CurlSession::kAnswerHeaderNames,
                             [name](std::string_view kept) { return HTTPHeaderFields::namesEqual(name, kept); });
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Called once per header line, so an answer costs time in proportion to its headers (the
// walk of libcurl's own header list after the transfer is quadratic in their number).
std::size_t onHeaderLine(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t length = size * count;
  const std::string_view line(data, length);
  if (++transfer->headerLines > kMaxAnswerHeaderLines) {
    transfer->tooManyHeaderLines = true;
    return 0;  // aborts the transfer
  }
  if (line.starts_with("HTTP/")) {
    transfer->answerHeaders = {};  // a new response begins (after an interim 1xx)
    transfer->keptHeaderLines = 0;
    return length;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || transfer->keptHeaderLines >= kKeptHeaderFields) {
    return length;
  }
  const std::string_view name = line.substr(0, colon);
  if (!isKeptHeader(name)) {
    return length;
  }
  const std::string_view value = trimmed(line.substr(colon + 1));
  if (value.size() <= kKeptHeaderValue) {
    transfer->answerHeaders.append(name, value);
    ++transfer->keptHeaderLines;
  }
  return length;
}

// Runs each time libcurl is about to send the request. A second time is libcurl's own
// silent retry after a kept-alive connection closed without an answer: the service may have
// acted on the first, so the exchange fails instead of sending it twice.
int onPrerequest(void* context, char* /*server address*/, char* /*local address*/, int /*server port*/,
                 int /*local port*/) {
  auto* transfer = static_cast<Transfer*>(context);
  if (++transfer->sendAttempts > 1) {
    transfer->resendRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  return CURL_PREREQFUNC_OK;
}

std::size_t onBodyData(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t length = size * count;
  if (length > transfer->limit - transfer->body.size()) {
    // Returning less than was given makes libcurl abort the transfer.
    transfer->bodyTooLarge = true;
    return 0;
  }
  transfer->body.append(data, length);
  return length;
}

HeaderList headerList(const HTTPHeaderFields& fields) {
  curl_slist* list = nullptr;
  bool hasExpect = false;
  for (const auto& [name, value] : fields) {
    hasExpect = hasExpect || HTTPHeaderFields::namesEqual(name, "Expect");
    // libcurl drops "Name:" with nothing after it; "Name;" sends the field empty.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    if (curl_slist* grown = curl_slist_append(list, line.c_str())) {
      list = grown;
    }
  }
  if (!hasExpect) {
    // Otherwise libcurl waits for "100 Continue" before sending a larger body: one more
    // round trip for nothing.
    if (curl_slist* grown = curl_slist_append(list, "Expect:")) {
      list = grown;
    }
  }
  return HeaderList(list);
}

// The proxy settings of the environment apply, but loopback traffic never goes through a
// proxy (libcurl would otherwise send it there).
std::string noProxyList() {
  std::string list = "localhost,127.0.0.0/8,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
      return std::string(value) + "," + list;
    }
  }
  return list;
}

struct HookSlot {
  std::mutex mutex;
  CurlSession::TestingHooks hooks;
  // Read on every round of the worker; the lock is taken only while a test has set hooks.
  std::atomic<bool> set{false};
};

HookSlot& hookSlot() {
  static HookSlot slot;
  return slot;
}

void runHook(std::function<void()> CurlSession::TestingHooks::*member) {
  auto& slot = hookSlot();
  if (!slot.set.load(std::memory_order_acquire)) {
    return;
  }
  std::function<void()> hook;
  {
    std::lock_guard lock(slot.mutex);
    hook = slot.hooks.*member;
  }
  if (hook) {
    hook();
  }
}

Error workerUnavailable() {
  return Error(std::string(TransportError::kDomain), CURLE_FAILED_INIT, "网络连接错误：无法启动网络线程");
}

}  // namespace

struct CurlSession::Impl {
  Impl(SessionConfiguration config, Dispatcher dispatch)
      : configuration(std::move(config)), noProxy(noProxyList()), dispatcher(std::move(dispatch)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, std::max(1L, configuration.maximumConnectionsPerHost));
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, std::max(8L, 2 * configuration.maximumConnectionsPerHost));
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  }

  ~Impl() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    if (multi != nullptr) {
      curl_multi_wakeup(multi);
    }
    // `worker` is only started under the lock while not stopping, so it is settled now.
    if (worker.joinable()) {
      worker.join();
    }
    // What was never answered is released here, on the thread that ends the session, not
    // on the worker: a handler may own objects of the main thread.
    incoming.clear();
    for (auto& [easy, transfer] : active) {
      curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
    }
    active.clear();
    for (CURL* easy : idle) {
      curl_easy_cleanup(easy);
    }
    if (multi != nullptr) {
      curl_multi_cleanup(multi);
    }
    curl_global_cleanup();
  }

  void enqueue(std::unique_ptr<Transfer> transfer) {
    if (multi == nullptr) {
      // libcurl could not be set up: every exchange fails, still through the dispatcher.
      failUnsent(std::move(transfer->completion), TransportError::fromCurlCode(CURLE_FAILED_INIT));
      return;
    }
    bool wake = false;
    {
      std::lock_guard lock(mutex);
      if (stopping) {
        // Not called, but released where handlers run, not on whatever thread sent it.
        release(std::move(transfer->completion));
        return;
      }
      if (worker.joinable() || startWorker()) {
        incoming.push_back(std::move(transfer));
        // A worker that is not waiting looks at `incoming` before it waits again.
        wake = sleeping;
        sleeping = false;
      }
    }
    if (transfer) {  // still here: no worker could be started
      failUnsent(std::move(transfer->completion), workerUnavailable());
      return;
    }
    if (wake) {
      curl_multi_wakeup(multi);
    }
  }

  // With `mutex` held.
  bool startWorker() {
    try {
      runHook(&TestingHooks::beforeWorkerStart);
      worker = std::thread([this] { run(); });
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  void failUnsent(CompletionHandler completion, Error error) {
    auto work = [completion = std::move(completion), error = std::move(error)]() mutable {
      if (completion) {
        auto handler = std::move(completion);
        handler(std::nullopt, std::nullopt, std::move(error));
      }
    };
    dispatcher ? dispatcher(std::move(work)) : work();
  }

  void release(CompletionHandler completion) {
    if (dispatcher && completion) {
      dispatcher([completion = std::move(completion)] {});
    }
  }

  void run() {
    pthread_setname_np(pthread_self(), "tovik-network");
    std::deque<std::unique_ptr<Transfer>> arrived;
    while (true) {
      {
        std::lock_guard lock(mutex);
        sleeping = false;
        if (stopping) {
          break;
        }
        arrived.swap(incoming);
      }
      for (auto& transfer : arrived) {
        start(std::move(transfer));
      }
      arrived.clear();
      int running = 0;
      curl_multi_perform(multi, &running);
      finishCompleted();
      dispatchFinished();
      {
        std::lock_guard lock(mutex);
        if (stopping || !incoming.empty()) {
          continue;
        }
        sleeping = true;
      }
      // Sleeps until a socket is ready, libcurl's next time-out falls due or `enqueue`
      // wakes it; an idle session never wakes on its own.
      long timeout = -1;
      curl_multi_timeout(multi, &timeout);
      if (timeout != 0) {
        const int wait = timeout < 0 || timeout > INT_MAX ? INT_MAX : static_cast<int>(timeout);
        curl_multi_poll(multi, nullptr, 0, wait, nullptr);
      }
    }
    // What is still queued is dropped by the destructor, on the thread that ends the session.
  }

  // Options that are the same for every exchange are set once per handle; a handle goes
  // back to the pool with the per-exchange ones cleared, so nothing of one request leaks
  // into the next.
  CURL* takeHandle() {
    if (!idle.empty()) {
      CURL* easy = idle.back();
      idle.pop_back();
      return easy;
    }
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
      return nullptr;
    }
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (configuration.caFile) {
      curl_easy_setopt(easy, CURLOPT_CAINFO, configuration.caFile->c_str());
    }
    if (configuration.connectTimeout) {
      curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                       std::max(1L, static_cast<long>(configuration.connectTimeout->count())));
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBodyData);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeaderLine);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, onPrerequest);
    return easy;
  }

  void releaseHandle(CURL* easy) {
    if (idle.size() >= kIdleHandlesKept) {
      curl_easy_cleanup(easy);
      return;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, nullptr);
    idle.push_back(easy);
  }

  void start(std::unique_ptr<Transfer> transfer) {
    CURL* easy = takeHandle();
    if (easy == nullptr) {
      complete(*transfer, std::nullopt, std::nullopt, TransportError::fromCurlCode(CURLE_OUT_OF_MEMORY));
      return;
    }
    Transfer& t = *transfer;
    t.limit = configuration.maximumBodySize;
    t.headers = headerList(t.request.headers);

    curl_easy_setopt(easy, CURLOPT_URL, t.request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMilliseconds(t.request.timeoutInterval));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headers.get());

    // The handle starts as a plain GET (fresh, or reset by `releaseHandle`).
    const HTTPMethod method = t.request.method;
    const bool hasBody = t.request.httpBody.has_value();
    if (hasBody || (method != HTTPMethod::get && method != HTTPMethod::delete_)) {
      // Without a body, a method that carries one still says "Content-Length: 0". The
      // pointer is never null: libcurl would then read the body from standard input.
      const char* body = hasBody ? t.request.httpBody->data() : "";
      const auto size = static_cast<curl_off_t>(hasBody ? t.request.httpBody->size() : 0);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, size);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
    }
    if (method != HTTPMethod::post && (method != HTTPMethod::get || hasBody)) {
      // The raw values are literals, so `data()` ends in a NUL.
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, rawValue(method).data());
    }
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);

    const CURLMcode added = curl_multi_add_handle(multi, easy);
    if (added != CURLM_OK) {
      releaseHandle(easy);
      complete(t, std::nullopt, std::nullopt, TransportError::fromCurlCode(CURLE_FAILED_INIT));
      return;
    }
    active.emplace(easy, std::move(transfer));
  }

  void finishCompleted() {
    int remaining = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &remaining)) {
      if (message->msg != CURLMSG_DONE) {
        continue;
      }
      CURL* easy = message->easy_handle;
      const CURLcode result = message->data.result;
      curl_multi_remove_handle(multi, easy);
      auto found = active.find(easy);
      if (found == active.end()) {
        curl_easy_cleanup(easy);
        continue;
      }
      std::unique_ptr<Transfer> transfer = std::move(found->second);
      active.erase(found);

      long status = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
      releaseHandle(easy);
      // A failed transfer carries its status but no header fields; a body over the limit
      // failed only on the kit's side.
      const bool failed = result != CURLE_OK && !transfer->bodyTooLarge;
      std::optional<HTTPURLResponse> response;
      if (status > 0) {
        response = HTTPURLResponse{.url = transfer->request.url,
                                   .statusCode = static_cast<int>(status),
                                   .headerFields = failed ? HTTPHeaderFields{} : std::move(transfer->answerHeaders)};
      }

      if (transfer->bodyTooLarge) {
        complete(*transfer, std::nullopt, std::move(response), std::nullopt);
      } else if (transfer->resendRefused) {
        // Reported as what it was: the connection ended before any answer.
        complete(*transfer, std::nullopt, std::nullopt, TransportError::fromCurlCode(CURLE_GOT_NOTHING));
      } else if (failed) {
        // Too many header lines are reported as libcurl reports a header it finds too large.
        const CURLcode reported = transfer->tooManyHeaderLines ? CURLE_RECV_ERROR : result;
        complete(*transfer, std::nullopt, std::move(response), TransportError::fromCurlCode(reported));
      } else {
        complete(*transfer, std::move(transfer->body), std::move(response), std::nullopt);
      }
    }
  }

  void complete(Transfer& transfer, std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                std::optional<Error> error) {
    if (transfer.completion) {
      finished.push_back({std::move(transfer.completion), std::move(data), std::move(response), std::move(error)});
    }
  }

  // One work item for all that finished in this round: one wake-up of the receiving thread
  // instead of one per exchange. The batch moves into the work item and the worker keeps
  // nothing of it, so each handler, and whatever it owns, is released where it ran.
  void dispatchFinished() {
    if (finished.empty()) {
      return;
    }
    auto work = [batch = std::move(finished)]() mutable {
      for (auto& item : batch) {
        const CompletionHandler handler = std::move(item.completion);
        handler(std::move(item.data), std::move(item.response), std::move(item.error));
      }
      batch.clear();
    };
    finished.clear();  // moved from: empty, but now also in a known state
    if (dispatcher) {
      dispatcher(std::move(work));
      runHook(&TestingHooks::afterDispatch);
    } else {
      work();
    }
  }

  struct Finished {
    CompletionHandler completion;
    std::optional<std::string> data;
    std::optional<HTTPURLResponse> response;
    std::optional<Error> error;
  };

  const SessionConfiguration configuration;
  const std::string noProxy;
  const Dispatcher dispatcher;
  CURLM* multi = nullptr;
  std::thread worker;

  std::mutex mutex;
  bool stopping = false;
  bool sleeping = false;
  std::deque<std::unique_ptr<Transfer>> incoming;

  // Worker thread only.
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> active;
  std::vector<CURL*> idle;
  std::vector<Finished> finished;
};

CurlSession::CurlSession(SessionConfiguration configuration, Dispatcher dispatcher)
    : impl_(std::make_unique<Impl>(std::move(configuration), std::move(dispatcher))) {}

CurlSession::~CurlSession() = default;

void CurlSession::dataTask(URLRequest request, CompletionHandler completionHandler) {
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->completion = std::move(completionHandler);
  impl_->enqueue(std::move(transfer));
}

const SessionConfiguration& CurlSession::configuration() const { return impl_->configuration; }

void CurlSession::setTestingHooks(TestingHooks hooks) {
  auto& slot = hookSlot();
  std::lock_guard lock(slot.mutex);
  const bool any = hooks.afterDispatch || hooks.beforeWorkerStart;
  slot.hooks = std::move(hooks);
  slot.set.store(any, std::memory_order_release);
}

}  // namespace tovik
