#include "platform/net/internal/transfer_engine.h"

#include <curl/curl.h>
#include <curl/header.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/thread_labels.h"
#include "platform/foundation/expected.h"
#include "platform/net/url_session.h"

namespace platform::net_internal {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;
constexpr int kMaximumRedirects = 16;

long urlErrorCodeFor(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kURLErrorTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
      return kURLErrorCannotFindHost;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return kURLErrorCannotConnectToHost;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kURLErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT:
      return kURLErrorBadURL;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return kURLErrorNetworkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS:
      return kURLErrorHTTPTooManyRedirects;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return kURLErrorBadServerResponse;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return kURLErrorSecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
      return kURLErrorServerCertificateUntrusted;
    default:
      return kURLErrorUnknown;
  }
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && !std::strchr("\"(),/:;<=>?@[\\]{}", c);
  });
}

bool hasLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool isRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

struct TransferEngine::State {
  // One request on the wire. Owned by the engine thread.
  struct Transfer {
    std::shared_ptr<URLSessionTask> task;
    URLRequest request;  // what is being sent; owns the body curl reads
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::vector<uint8_t> received;
    std::chrono::nanoseconds idleTimeout{};
    SteadyTime lastActivity;
    curl_off_t lastDownloaded = 0;
    curl_off_t lastUploaded = 0;

    ~Transfer() {
      if (easy) curl_easy_cleanup(easy);
      if (headerList) curl_slist_free_all(headerList);
    }
  };

  CURLM* multi = nullptr;
  std::mutex mutex;
  std::vector<std::function<void()>> commands;  // guarded by mutex

  // Engine-thread state.
  std::map<CURL*, std::unique_ptr<Transfer>> active;
  std::map<URLSessionTask*, std::shared_ptr<URLSessionTask>> awaitingRedirect;

  State() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi = curl_multi_init();
    std::thread([this] {
      ThreadEntered();
      run();
    }).detach();
  }

  void post(std::function<void()> command) {
    {
      std::lock_guard lock(mutex);
      commands.push_back(std::move(command));
    }
    curl_multi_wakeup(multi);
  }

  void run() {
    for (;;) {
      std::vector<std::function<void()>> pending;
      {
        std::lock_guard lock(mutex);
        pending.swap(commands);
      }
      for (auto& command : pending) command();

      int running = 0;
      curl_multi_perform(multi, &running);
      collectFinished();
      expireIdleTransfers();

      curl_multi_poll(multi, nullptr, 0, pollTimeoutMs(), nullptr);
    }
  }

  int pollTimeoutMs() {
    long curlTimeout = -1;
    curl_multi_timeout(multi, &curlTimeout);
    long timeout = 1000;
    if (curlTimeout >= 0) timeout = std::min(timeout, curlTimeout);
    auto now = std::chrono::steady_clock::now();
    for (const auto& [easy, transfer] : active) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(transfer->lastActivity +
                                                                        transfer->idleTimeout - now)
                      .count();
      timeout = std::min<long>(timeout, std::max<long>(left + 1, 0));
    }
    return static_cast<int>(timeout);
  }

  // ---- Starting -------------------------------------------------------------------------

  void startTransfer(const std::shared_ptr<URLSessionTask>& task, URLRequest request) {
    {
      std::lock_guard lock(task->mutex_);
      if (task->state_ != URLSessionTask::State::Running) return;
      task->currentRequest_ = request;
    }
    const auto& configuration = task->session_->configuration();
    auto now = std::chrono::steady_clock::now();
    if (!task->resourceDeadline_) {
      task->resourceDeadline_ = now + configuration.timeoutIntervalForResource;
    }
    auto resourceLeft =
        std::chrono::duration_cast<std::chrono::milliseconds>(*task->resourceDeadline_ - now);
    if (resourceLeft.count() <= 0) {
      return complete(task, std::nullopt, std::nullopt,
                      makeURLError(kURLErrorTimedOut, request.url));
    }

    if (Status valid = validate(request, configuration); !valid.ok()) {
      return complete(task, std::nullopt, std::nullopt, valid.failure());
    }

    auto transfer = std::make_unique<Transfer>();
    transfer->task = task;
    transfer->request = std::move(request);
    transfer->idleTimeout = transfer->request.timeoutInterval > Duration::zero()
                                ? transfer->request.timeoutInterval
                                : configuration.timeoutIntervalForRequest;
    transfer->lastActivity = now;
    transfer->easy = curl_easy_init();
    if (!transfer->easy) {
      return complete(task, std::nullopt, std::nullopt,
                      makeURLError(kURLErrorUnknown, transfer->request.url, "no transfer handle"));
    }
    configure(*transfer, configuration, resourceLeft);
    CURL* easy = transfer->easy;
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
      auto url = transfer->request.url;
      return complete(task, std::nullopt, std::nullopt,
                      makeURLError(kURLErrorUnknown, url, "could not start the transfer"));
    }
    active.emplace(easy, std::move(transfer));
  }

  // Refuses what libcurl must not be handed: anything but an absolute http(s) URL, and
  // methods or header fields that would let text escape into the request framing.
  static Status validate(const URLRequest& request, const URLSessionConfiguration& configuration) {
    CURLU* parsed = curl_url();
    CURLUcode rc = curl_url_set(parsed, CURLUPART_URL, request.url.c_str(), 0);
    char* scheme = nullptr;
    if (rc == CURLUE_OK) rc = curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
    std::string schemeText = scheme ? scheme : "";
    curl_free(scheme);
    curl_url_cleanup(parsed);
    if (rc != CURLUE_OK) return makeURLError(kURLErrorBadURL, request.url);
    if (schemeText != "http" && schemeText != "https") {
      return makeURLError(kURLErrorUnsupportedURL, request.url);
    }
    if (!isToken(request.httpMethod)) {
      return makeURLError(kURLErrorBadURL, request.url, "invalid method");
    }
    for (const HTTPHeaders* fields :
         {&request.allHTTPHeaderFields, &configuration.HTTPAdditionalHeaders}) {
      for (const auto& [name, value] : fields->fields()) {
        if (!isToken(name) || hasLineBreak(value)) {
          return makeURLError(kURLErrorBadURL, request.url, "invalid header field " + name);
        }
      }
    }
    return {};
  }

  static void configure(Transfer& transfer, const URLSessionConfiguration& configuration,
                        std::chrono::milliseconds resourceLeft) {
    CURL* easy = transfer.easy;
    const URLRequest& request = transfer.request;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // never a proxy from the environment
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(resourceLeft.count()));
    curl_easy_setopt(
        easy, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(std::max<int64_t>(
            1,
            std::chrono::duration_cast<std::chrono::milliseconds>(transfer.idleTimeout).count())));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &State::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &State::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &State::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);

    // Method and body.
    const std::string& method = request.httpMethod;
    static const char kEmpty[] = "";
    if (method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (request.httpBody || method == "POST") {
      const auto* bytes = request.httpBody && !request.httpBody->empty()
                              ? reinterpret_cast<const char*>(request.httpBody->data())
                              : kEmpty;
      curl_off_t size = request.httpBody ? static_cast<curl_off_t>(request.httpBody->size()) : 0;
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, size);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bytes);
      if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method != "GET") {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    // Header fields: the request's own, then the session's additional ones it lacks.
    HTTPHeaders fields = request.allHTTPHeaderFields;
    for (const auto& [name, value] : configuration.HTTPAdditionalHeaders.fields()) {
      if (!fields.contains(name)) fields.set(name, value);
    }
    // The session frames the body itself; a caller's framing fields could contradict it.
    fields.remove("Content-Length");
    fields.remove("Transfer-Encoding");
    if (!fields.contains("Expect")) {
      transfer.headerList = curl_slist_append(transfer.headerList, "Expect:");
    }
    for (const auto& [name, value] : fields.fields()) {
      // "Name;" is libcurl's spelling of a field sent with an empty value.
      std::string line = value.empty() ? name + ";" : name + ": " + value;
      transfer.headerList = curl_slist_append(transfer.headerList, line.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headerList);
  }

  static size_t onBody(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    transfer->received.insert(transfer->received.end(), data, data + size * count);
    transfer->lastActivity = std::chrono::steady_clock::now();
    return size * count;
  }

  static size_t onHeader(char*, size_t size, size_t count, void* context) {
    static_cast<Transfer*>(context)->lastActivity = std::chrono::steady_clock::now();
    return size * count;
  }

  static int onProgress(void* context, curl_off_t, curl_off_t downloaded, curl_off_t,
                        curl_off_t uploaded) {
    auto* transfer = static_cast<Transfer*>(context);
    if (downloaded != transfer->lastDownloaded || uploaded != transfer->lastUploaded) {
      transfer->lastDownloaded = downloaded;
      transfer->lastUploaded = uploaded;
      transfer->lastActivity = std::chrono::steady_clock::now();
    }
    return 0;
  }

  // ---- Finishing ------------------------------------------------------------------------

  std::unique_ptr<Transfer> detach(CURL* easy) {
    auto it = active.find(easy);
    if (it == active.end()) return nullptr;
    auto transfer = std::move(it->second);
    active.erase(it);
    curl_multi_remove_handle(multi, easy);
    return transfer;
  }

  void collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURLcode result = message->data.result;
      if (auto transfer = detach(message->easy_handle)) finished(std::move(transfer), result);
    }
  }

  void expireIdleTransfers() {
    auto now = std::chrono::steady_clock::now();
    std::vector<CURL*> expired;
    for (const auto& [easy, transfer] : active) {
      if (now - transfer->lastActivity >= transfer->idleTimeout) expired.push_back(easy);
    }
    for (CURL* easy : expired) {
      auto transfer = detach(easy);
      complete(transfer->task, std::nullopt, std::nullopt,
               makeURLError(kURLErrorTimedOut, transfer->request.url));
    }
  }

  static HTTPURLResponse responseOf(CURL* easy) {
    HTTPURLResponse response;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &response.statusCode);
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    if (effective) response.url = effective;
    curl_header* previous = nullptr;
    while (curl_header* header = curl_easy_nextheader(easy, CURLH_HEADER, -1, previous)) {
      response.allHeaderFields.add(header->name, header->value);
      previous = header;
    }
    return response;
  }

  void finished(std::unique_ptr<Transfer> transfer, CURLcode result) {
    auto task = transfer->task;
    if (result != CURLE_OK) {
      std::string detail = curl_easy_strerror(result);
      return complete(task, std::nullopt, std::nullopt,
                      makeURLError(urlErrorCodeFor(result), transfer->request.url, detail));
    }
    HTTPURLResponse response = responseOf(transfer->easy);
    {
      std::lock_guard lock(task->mutex_);
      task->response_ = response;
    }
    char* location = nullptr;
    curl_easy_getinfo(transfer->easy, CURLINFO_REDIRECT_URL, &location);
    if (!isRedirectStatus(response.statusCode) || !location) {
      return complete(task, std::move(transfer->received), std::move(response), std::nullopt);
    }
    if (++task->redirectCount_ > kMaximumRedirects) {
      return complete(task, std::nullopt, std::nullopt,
                      makeURLError(kURLErrorHTTPTooManyRedirects, transfer->request.url));
    }
    redirect(task, std::move(*transfer), std::move(response), location);
  }

  void redirect(const std::shared_ptr<URLSessionTask>& task, Transfer&& transfer,
                HTTPURLResponse response, const std::string& location) {
    URLRequest next = transfer.request;
    next.url = location;
    const long status = response.statusCode;
    if ((status == 303 && next.httpMethod != "HEAD") ||
        ((status == 301 || status == 302) && next.httpMethod == "POST")) {
      next.httpMethod = "GET";
      next.httpBody.reset();
      next.allHTTPHeaderFields.remove("Content-Type");
      next.allHTTPHeaderFields.remove("Content-Length");
    }
    auto session = task->session_;
    auto delegate = session->delegate();
    if (!delegate) return startTransfer(task, std::move(next));

    awaitingRedirect.emplace(task.get(), task);
    auto body = std::make_shared<std::vector<uint8_t>>(std::move(transfer.received));
    auto answered = std::make_shared<std::atomic<bool>>(false);
    auto decide = [this, task, response, body, answered](std::optional<URLRequest> chosen) {
      if (answered->exchange(true)) return;
      post([this, task, response, body, chosen = std::move(chosen)]() mutable {
        if (awaitingRedirect.erase(task.get()) == 0) return;  // cancelled meanwhile
        if (chosen) return startTransfer(task, std::move(*chosen));
        complete(task, std::move(*body), response, std::nullopt);
      });
    };
    session->delegateQueue()->async(
        [session, task, delegate, response, next = std::move(next), decide]() mutable {
          delegate->willPerformHTTPRedirection(session, task, response, std::move(next),
                                               std::move(decide));
        });
  }

  void cancelTask(const std::shared_ptr<URLSessionTask>& task) {
    for (auto& [easy, transfer] : active) {
      if (transfer->task == task) {
        auto detached = detach(easy);
        return complete(task, std::nullopt, std::nullopt,
                        makeURLError(kURLErrorCancelled, detached->request.url));
      }
    }
    // Waiting for the delegate's redirect decision, or cancelled before it was sent.
    awaitingRedirect.erase(task.get());
    complete(task, std::nullopt, std::nullopt,
             makeURLError(kURLErrorCancelled, task->currentRequest().url));
  }

  // Settles the task once and posts its completion to the delegate queue.
  static void complete(const std::shared_ptr<URLSessionTask>& task,
                       std::optional<std::vector<uint8_t>> data,
                       std::optional<HTTPURLResponse> response, std::optional<Error> error) {
    {
      std::lock_guard lock(task->mutex_);
      if (task->state_ == URLSessionTask::State::Completed) return;
      task->state_ = URLSessionTask::State::Completed;
      if (response) task->response_ = response;
      task->error_ = error;
    }
    auto session = task->session_;
    if (task->kind_ == URLSessionTask::Kind::Download) {
      std::optional<std::string> location;
      if (!error) {
        location = writeTemporaryFile(*data);
        if (!location) {
          error = makeURLError(kURLErrorCannotCreateFile, task->currentRequest().url);
          response.reset();
          std::lock_guard lock(task->mutex_);
          task->error_ = error;
        }
      }
      session->delegateQueue()->async([task, location, response, error] {
        if (task->downloadCompletion_) task->downloadCompletion_(location, response, error);
        if (location) {
          std::error_code ignored;
          std::filesystem::remove(*location, ignored);
        }
      });
    } else {
      if (error) {
        data.reset();
        response.reset();
      }
      session->delegateQueue()->async([task, data = std::move(data), response, error]() mutable {
        if (task->dataCompletion_) task->dataCompletion_(std::move(data), response, error);
      });
    }
    session->taskFinished(task->identifier_);
  }

  static std::optional<std::string> writeTemporaryFile(const std::vector<uint8_t>& bytes) {
    std::error_code ec;
    auto directory = std::filesystem::temp_directory_path(ec);
    if (ec) return std::nullopt;
    std::string path = (directory / "brivel-download-XXXXXX").string();
    int fd = mkstemp(path.data());
    if (fd < 0) return std::nullopt;
    size_t written = 0;
    while (written < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        ::close(fd);
        std::filesystem::remove(path, ec);
        return std::nullopt;
      }
      written += static_cast<size_t>(n);
    }
    ::close(fd);
    return path;
  }
};

TransferEngine& TransferEngine::instance() {
  // Never destroyed: its thread serves every session until the process ends.
  static TransferEngine* engine = new TransferEngine();
  return *engine;
}

TransferEngine::TransferEngine() : state_(new State()) {}

void TransferEngine::start(std::shared_ptr<URLSessionTask> task) {
  State* state = state_;
  state->post(
      [state, task = std::move(task)] { state->startTransfer(task, task->originalRequest()); });
}

void TransferEngine::cancel(std::shared_ptr<URLSessionTask> task) {
  State* state = state_;
  state->post([state, task = std::move(task)] { state->cancelTask(task); });
}

}  // namespace platform::net_internal
