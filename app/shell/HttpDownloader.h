#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tarvo {

struct HttpTimeouts {
    // Giving up on a server that does not accept the connection.
    std::chrono::milliseconds connect{15000};
    // Giving up on a connection that delivers nothing for this long (checked about once a
    // second, so it may take up to a second longer).
    std::chrono::milliseconds stall{30000};
};

// One HTTP client session (a libcurl easy handle) for GET requests over http and https: proxies
// from the environment (http_proxy, https_proxy, no_proxy), caches bypassed, at most 5 redirects
// followed, the system's CA store. A request succeeds on a final status of 200 to 299.
//
// Failures leave the reason as the thread's last system error: 2 (ENOENT) for 404, EPROTO with
// the status for other statuses, kAborted when cancelled, else the network or file error.
class HttpDownloader {
  public:
    // Called once with reason kStreamStart before the first byte is stored, then after every
    // chunk of at most kChunkSize bytes with reason kChunkFinished; `total` is the response's
    // Content-Length (0 when it has none). Answers a ProgressResult: cancel ends the download,
    // any other non-zero answer only stops the calls.
    using Progress = std::function<std::uint32_t(std::uint64_t total, std::uint64_t transferred,
                                                 std::uint32_t reason)>;

    static constexpr size_t kChunkSize = 4096;
    // A page is read into memory; one larger than this is refused rather than exhausting it.
    static constexpr size_t kMaxPageSize = 16u << 20;

    explicit HttpDownloader(HttpTimeouts timeouts = {});
    ~HttpDownloader();
    HttpDownloader(const HttpDownloader&) = delete;
    HttpDownloader& operator=(const HttpDownloader&) = delete;

    void setProgress(Progress progress) { progress_ = std::move(progress); }
    // Polled while waiting for the server (about once a second and after every chunk of data):
    // true cancels the request as the progress routine's cancel does.
    void setCancel(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }

    // The body of `address`, up to its first NUL byte.
    bool ReadPage(const std::string& address, std::string& text);

    // Streams the body of `address` into a new file beside `path` and, only when the whole body
    // has arrived, renames it over `path`; a failed or cancelled download leaves `path` as it was
    // and no partial file behind. `executable` gives the file its run bits (where it is readable)
    // before it takes the name.
    bool DownloadTo(const std::string& address, const std::string& path, bool executable);

    // The latest response's Content-Length (0 without one) and the body bytes received.
    std::int64_t contentLength() const { return contentLength_; }
    std::uint64_t bytesDone() const { return bytesDone_; }
    long status() const { return status_; }

  private:
    struct Transfer;
    friend struct Transfer;
    bool perform(const std::string& address, Transfer& transfer);

    void* curl_ = nullptr;
    HttpTimeouts timeouts_;
    Progress progress_;
    std::function<bool()> cancelled_;
    std::int64_t contentLength_ = 0;
    std::uint64_t bytesDone_ = 0;
    long status_ = 0;
    char errorText_[256] = {};
};

}  // namespace tarvo
