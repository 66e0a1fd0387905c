// The portable HTTP session: one libcurl multi handle driven by a thread of the session's own.
// Completions run on that thread. The thread keeps the session's state alive until the last
// task has finished after invalidation, so releasing a session never waits for the network.
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "HTTPSession.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

constexpr size_t kMaxHeaderLines = 200;

class CurlSessionCore;

class CurlTask : public HTTPTask {
 public:
  CurlTask(std::weak_ptr<CurlSessionCore> core, uint64_t id, CorvaneSDKMutableRequest request, HTTPCompletion completion)
      : core_(std::move(core)), id_(id), request(std::move(request)), completion(std::move(completion)) {}
  void cancel() override;
  uint64_t taskIdentifier() const override { return id_; }

  std::weak_ptr<CurlSessionCore> core_;
  uint64_t id_;
  std::atomic<bool> cancelled{false};
  // Owned by the session's thread once started.
  CorvaneSDKMutableRequest request;
  HTTPCompletion completion;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  HTTPResponse response;
  size_t maxBody = 0;
  bool tooLarge = false;
  int64_t lastActivityMs = 0;
  int64_t startedMs = 0;
};

size_t onWrite(char* data, size_t size, size_t count, void* user) {
  auto* task = static_cast<CurlTask*>(user);
  const size_t n = size * count;
  task->lastActivityMs = steadyMs();
  if (task->response.body.size() + n > task->maxBody) {
    task->tooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  task->response.body.append(data, n);
  return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* task = static_cast<CurlTask*>(user);
  const size_t n = size * count;
  task->lastActivityMs = steadyMs();
  std::string line(data, n);
  if (line.rfind("HTTP/", 0) == 0) {
    task->response.headers.clear();  // a new status line (after 100 Continue)
    return n;
  }
  const auto colon = line.find(':');
  if (colon == std::string::npos || task->response.headers.size() >= kMaxHeaderLines) return n;
  auto trim = [](std::string s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    const auto e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  };
  task->response.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* task = static_cast<CurlTask*>(user);
  return task->cancelled.load() ? 1 : 0;
}

class CurlSessionCore : public std::enable_shared_from_this<CurlSessionCore> {
 public:
  explicit CurlSessionCore(HTTPSessionConfiguration configuration) : configuration_(std::move(configuration)) {
    globalInit();
    multi_ = curl_multi_init();
  }
  ~CurlSessionCore() {
    if (multi_) curl_multi_cleanup(multi_);
  }

  bool usable() const { return multi_ != nullptr; }

  void startThread() {
    auto self = shared_from_this();
    std::thread([self] { self->run(); }).detach();
  }

  std::shared_ptr<HTTPTask> start(const CorvaneSDKMutableRequest& request, HTTPCompletion completion) {
    auto out = withSessionHeaders(request, configuration_);
    std::shared_ptr<CurlTask> task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task = std::make_shared<CurlTask>(weak_from_this(), next_++, std::move(out), std::move(completion));
      if (!invalidated_ && multi_) {
        incoming_.push_back(task);
        curl_multi_wakeup(multi_);
        return task;
      }
    }
    HTTPResponse r;
    r.error = "session invalidated";
    finish(*task, r);
    return task;
  }

  void invalidate() {
    std::lock_guard<std::mutex> lock(mutex_);
    invalidated_ = true;
    if (multi_) curl_multi_wakeup(multi_);
  }

  void wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (multi_) curl_multi_wakeup(multi_);
  }

  void setDelegate(std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
  }

 private:
  void finish(CurlTask& task, const HTTPResponse& response) {
    std::shared_ptr<CorvaneSDKHTTPSessionDelegate> delegate;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      delegate = delegate_.lock();
    }
    HTTPCompletion completion = std::move(task.completion);
    task.completion = nullptr;
    try {
      if (delegate) delegate->didCompleteTask(task.request, response);
      if (completion) completion(response);
    } catch (...) {
      // Host code never takes the session's thread down.
    }
  }

  bool begin(CurlTask& task) {
    CURL* easy = curl_easy_init();
    if (!easy) return false;
    task.easy = easy;
    task.maxBody = configuration_.maxBodyBytes;
    task.startedMs = task.lastActivityMs = steadyMs();
    const auto& r = task.request;
    curl_easy_setopt(easy, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(configuration_.resourceTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &task);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &task);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &task);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &task);
    if (r.method == "GET" && r.body.empty()) {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (r.method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, r.body.data());
      if (r.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    }
    curl_slist* list = nullptr;
    for (const auto& h : r.headers) {
      // Header names and values with line breaks would inject lines of their own.
      if (h.first.find_first_of("\r\n:") != std::string::npos || h.second.find_first_of("\r\n") != std::string::npos)
        continue;
      list = curl_slist_append(list, (h.first + ": " + h.second).c_str());
    }
    list = curl_slist_append(list, "Expect:");
    task.headerList = list;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
      release(task);
      return false;
    }
    return true;
  }

  void release(CurlTask& task) {
    if (task.easy) {
      curl_multi_remove_handle(multi_, task.easy);
      curl_easy_cleanup(task.easy);
      task.easy = nullptr;
    }
    if (task.headerList) {
      curl_slist_free_all(task.headerList);
      task.headerList = nullptr;
    }
  }

  void end(const std::shared_ptr<CurlTask>& task, CURLcode code) {
    HTTPResponse response = std::move(task->response);
    if (task->tooLarge) {
      response.error = "response body larger than " + std::to_string(task->maxBody) + " bytes";
    } else if (task->cancelled) {
      response.error = "cancelled";
    } else if (code != CURLE_OK) {
      response.error = curl_easy_strerror(code);
    } else {
      long status = 0;
      curl_easy_getinfo(task->easy, CURLINFO_RESPONSE_CODE, &status);
      response.status = static_cast<int>(status);
    }
    if (response.error) {
      response.status = 0;
      response.body.clear();
    }
    release(*task);
    running_.erase(task.get());
    finish(*task, response);
  }

  void endWithError(const std::shared_ptr<CurlTask>& task, const std::string& error) {
    HTTPResponse response;
    response.error = error;
    release(*task);
    running_.erase(task.get());
    finish(*task, response);
  }

  void run() {
    for (;;) {
      std::vector<std::shared_ptr<CurlTask>> fresh;
      bool invalidated;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        fresh.swap(incoming_);
        invalidated = invalidated_;
      }
      for (auto& task : fresh) {
        if (task->cancelled) {
          HTTPResponse r;
          r.error = "cancelled";
          finish(*task, r);
        } else if (!begin(*task)) {
          HTTPResponse r;
          r.error = "unable to start the request";
          finish(*task, r);
        } else {
          running_[task.get()] = task;
        }
      }
      if (running_.empty() && invalidated) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (incoming_.empty()) break;
        continue;
      }
      int still = 0;
      curl_multi_perform(multi_, &still);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        void* priv = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &priv);
        auto it = running_.find(static_cast<CurlTask*>(priv));
        if (it == running_.end()) continue;
        auto task = it->second;
        end(task, msg->data.result);
      }
      // Cancelled tasks and tasks without progress for the request timeout end here.
      const int64_t now = steadyMs();
      int64_t wait = 1000;
      std::vector<std::shared_ptr<CurlTask>> expired, cancelled;
      for (auto& entry : running_) {
        auto& task = entry.second;
        const int64_t timeout = task->request.timeoutMs > 0 ? task->request.timeoutMs : configuration_.requestTimeoutMs;
        if (task->cancelled) {
          cancelled.push_back(task);
        } else if (now - task->lastActivityMs >= timeout) {
          expired.push_back(task);
        } else {
          wait = std::min(wait, timeout - (now - task->lastActivityMs));
        }
      }
      for (auto& task : cancelled) endWithError(task, "cancelled");
      for (auto& task : expired) endWithError(task, "the request timed out");
      if (!expired.empty() || !cancelled.empty()) continue;
      curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::max<int64_t>(wait, 1)), nullptr);
    }
  }

  HTTPSessionConfiguration configuration_;
  CURLM* multi_ = nullptr;
  std::mutex mutex_;
  std::vector<std::shared_ptr<CurlTask>> incoming_;
  std::map<CurlTask*, std::shared_ptr<CurlTask>> running_;  // the session's thread only
  bool invalidated_ = false;
  uint64_t next_ = 1;
  std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate_;
};

void CurlTask::cancel() {
  cancelled = true;
  if (auto core = core_.lock()) core->wake();
}

class CurlHTTPSession : public HTTPSession {
 public:
  explicit CurlHTTPSession(std::shared_ptr<CurlSessionCore> core) : core_(std::move(core)) {}
  ~CurlHTTPSession() override { core_->invalidate(); }
  std::shared_ptr<HTTPTask> startTask(const CorvaneSDKMutableRequest& request, HTTPCompletion completion) override {
    return core_->start(request, std::move(completion));
  }
  void finishTasksAndInvalidate() override { core_->invalidate(); }
  void setDelegate(std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate) override {
    core_->setDelegate(std::move(delegate));
  }

 private:
  std::shared_ptr<CurlSessionCore> core_;
};

}  // namespace

std::shared_ptr<HTTPSession> CurlHTTPSessionFactory::makeSession(const HTTPSessionConfiguration& configuration) {
  auto core = std::make_shared<CurlSessionCore>(configuration);
  if (core->usable()) core->startThread();
  return std::make_shared<CurlHTTPSession>(core);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
