#include "shell/HttpDownloader.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "pattern/CMatch.h"
#include "shell/SystemError.h"
#include "shell/UpdateProgress.h"

namespace tarvo {
namespace {

const char* const kUserAgent = "tarvo";
const char* const kContentLength = "Content-Length:[ \\t]*\\c[0-9]+\\c";

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The Content-Length of a response's header block; 0 without one. Absurd values are capped
// rather than wrapped, since only the bar uses the figure.
std::int64_t parseContentLength(const std::string& headers) {
    CMatch match(kContentLength);
    if (headers.empty() || !match.Match(headers.c_str(), 0)) {
        return 0;
    }
    std::int64_t value = 0;
    for (char digit : match.GetText(1, 2, headers.c_str())) {
        value = value * 10 + (digit - '0');
        if (value > 0xFFFFFFFFll) {
            return 0xFFFFFFFFll;
        }
    }
    return value;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Removes what downloads to `target` left behind when their process was killed: part files
// named for a process that no longer exists. Parts of live processes are theirs to finish.
void removeOrphanedParts(const std::filesystem::path& target) {
    const std::string prefix = "." + target.filename().string() + ".part-";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix)) {
            continue;
        }
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid > 0 && *end == '-' && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

// A fresh file beside `path` for the download to grow in; the umask decides its permissions as
// for any new file.
int createPartFile(const std::string& path, std::string& partPath) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target(path);
    removeOrphanedParts(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        partPath = (target.parent_path() /
                    ("." + target.filename().string() + ".part-" + std::to_string(getpid()) + "-" +
                     std::to_string(counter.fetch_add(1))))
                       .string();
        const int fd = open(partPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

struct HttpDownloader::Transfer {
    explicit Transfer(HttpDownloader& downloader) : owner(downloader) {}

    HttpDownloader& owner;
    std::string headers;  // the final response's header lines, CR LF kept
    bool started = false;
    bool statusFailed = false;
    bool cancelled = false;
    bool tooLarge = false;
    int fileError = 0;
    bool progressStopped = false;
    bool stalled = false;
    // When data last arrived (or the connection was still being made), for the stall limit.
    std::chrono::steady_clock::time_point lastData = std::chrono::steady_clock::now();
    curl_off_t lastBytes = 0;

    std::string* page = nullptr;  // ReadPage's sink
    std::string path;             // DownloadTo's destination and the file growing beside it
    std::string partPath;
    int fd = -1;

    // Everything that must wait for the final response's headers: the status decides whether
    // there is a body to keep at all, and the file is not created for a failed request.
    bool beginBody() {
        if (started) {
            return !statusFailed && fileError == 0;
        }
        started = true;
        curl_easy_getinfo(owner.curl_, CURLINFO_RESPONSE_CODE, &owner.status_);
        if (owner.status_ < 200 || owner.status_ > 299) {
            statusFailed = true;
            return false;
        }
        owner.contentLength_ = parseContentLength(headers);
        if (page != nullptr) {
            return true;
        }
        fd = createPartFile(path, partPath);
        if (fd < 0) {
            fileError = errno;
            return false;
        }
        if (owner.progress_) {
            owner.progress_(static_cast<std::uint64_t>(owner.contentLength_), 0, kStreamStart);
        }
        return true;
    }

    bool store(const char* data, size_t size) {
        if (page != nullptr) {
            if (page->size() + size > kMaxPageSize) {
                tooLarge = true;
                return false;
            }
            page->append(data, size);
            owner.bytesDone_ += size;
            return true;
        }
        while (size > 0) {
            const size_t chunk = size < kChunkSize ? size : kChunkSize;
            if (!writeAll(fd, data, chunk)) {
                fileError = errno;
                return false;
            }
            owner.bytesDone_ += chunk;
            data += chunk;
            size -= chunk;
            if (owner.progress_ && !progressStopped) {
                const std::uint32_t answer =
                    owner.progress_(static_cast<std::uint64_t>(owner.contentLength_),
                                    owner.bytesDone_, kChunkFinished);
                if (answer == kProgressCancel) {
                    cancelled = true;
                    return false;
                }
                progressStopped = answer != kProgressContinue;
            }
        }
        return true;
    }

    void discardFile() {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
        if (!partPath.empty()) {
            unlink(partPath.c_str());
            partPath.clear();
        }
    }

    // Makes the complete file durable, gives it its run bits and puts it in place.
    bool finishFile(bool executable) {
        struct stat info;
        if (fsync(fd) != 0 || fstat(fd, &info) != 0) {
            fileError = errno;
            return false;
        }
        if (executable) {
            const mode_t mode = info.st_mode & 07777;
            if (fchmod(fd, mode | ((mode & 0444) >> 2)) != 0) {
                fileError = errno;
                return false;
            }
        }
        if (close(fd) != 0) {
            fd = -1;
            fileError = errno;
            return false;
        }
        fd = -1;
        if (rename(partPath.c_str(), path.c_str()) != 0) {
            fileError = errno;
            return false;
        }
        partPath.clear();
        return true;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto& transfer = *static_cast<Transfer*>(user);
        const std::string line(data, size * count);
        // Each response of a redirect chain starts with its status line; only the last counts.
        if (line.starts_with("HTTP/")) {
            transfer.headers.clear();
        }
        transfer.headers += line;
        return size * count;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto& transfer = *static_cast<Transfer*>(user);
        if (!transfer.beginBody() || !transfer.store(data, size * count)) {
            return 0;  // ends the transfer; the flags say why
        }
        return size * count;
    }

    static int onTick(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
        auto& transfer = *static_cast<Transfer*>(user);
        if (transfer.owner.cancelled_ && transfer.owner.cancelled_()) {
            transfer.cancelled = true;
            return 1;
        }
        // libcurl's own low-speed limit averages over several seconds, so a body that stops
        // after a burst would be given that much longer: watch for the last byte instead.
        const auto now = std::chrono::steady_clock::now();
        curl_off_t connected = 0;
        curl_easy_getinfo(transfer.owner.curl_, CURLINFO_CONNECT_TIME_T, &connected);
        if (connected == 0 || received != transfer.lastBytes) {
            transfer.lastData = now;
            transfer.lastBytes = received;
        } else if (now - transfer.lastData >= transfer.owner.timeouts_.stall) {
            transfer.stalled = true;
            return 1;
        }
        return 0;
    }
};

HttpDownloader::HttpDownloader(HttpTimeouts timeouts) : timeouts_(timeouts) {
    initialiseLibrary();
    curl_ = curl_easy_init();
}

HttpDownloader::~HttpDownloader() {
    if (curl_ != nullptr) {
        curl_easy_cleanup(curl_);
    }
}

namespace {

// The errno that stands for a libcurl failure, with the system's text and libcurl's detail.
void recordCurlFailure(CURL* curl, CURLcode result, const char* detail) {
    long osError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    int code = EIO;
    switch (result) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            code = EHOSTUNREACH;
            break;
        case CURLE_COULDNT_CONNECT:
            code = osError != 0 ? static_cast<int>(osError) : ECONNREFUSED;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            code = ETIMEDOUT;
            break;
        case CURLE_UNSUPPORTED_PROTOCOL:
            code = EPROTONOSUPPORT;
            break;
        case CURLE_URL_MALFORMAT:
            code = EINVAL;
            break;
        case CURLE_PARTIAL_FILE:
            code = ECONNRESET;
            break;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            code = osError != 0 ? static_cast<int>(osError) : ECONNRESET;
            break;
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
            code = EPROTO;
            break;
        default:
            break;
    }
    std::string text = SystemErrorText(code);
    const std::string more = detail[0] != '\0' ? detail : curl_easy_strerror(result);
    if (!more.empty()) {
        text += " (" + more + ")";
    }
    SetLastSystemError(code, text);
}

}  // namespace

bool HttpDownloader::perform(const std::string& address, Transfer& transfer) {
    contentLength_ = 0;
    bytesDone_ = 0;
    status_ = 0;
    errorText_[0] = '\0';
    if (curl_ == nullptr) {
        SetLastSystemError(ENOMEM);
        return false;
    }
    CURL* curl = curl_;
    curl_easy_reset(curl);
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    // A backstop only: the tick below enforces the stall limit to the millisecond.
    const long stallSeconds = std::max<long>(1, (timeouts_.stall.count() + 999) / 1000) + 5;
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kChunkSize));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText_);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::onTick);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    CURLcode result = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    if (result == CURLE_OK) {
        transfer.beginBody();  // an empty body still has a status, and still makes a file
    }

    if (transfer.cancelled) {
        SetLastSystemError(kAborted);
    } else if (transfer.statusFailed) {
        if (status_ == 404) {
            SetLastSystemError(ENOENT);
        } else {
            SetLastSystemError(EPROTO, "HTTP status " + std::to_string(status_));
        }
    } else if (transfer.fileError != 0) {
        SetLastSystemError(transfer.fileError,
                           SystemErrorText(transfer.fileError) + " (" + transfer.path + ")");
    } else if (transfer.stalled) {
        SetLastSystemError(ETIMEDOUT, SystemErrorText(ETIMEDOUT) + " (no data for " +
                                          std::to_string(timeouts_.stall.count()) + " ms)");
    } else if (transfer.tooLarge) {
        SetLastSystemError(EFBIG);
    } else if (result != CURLE_OK) {
        recordCurlFailure(curl, result, errorText_);
    } else {
        return true;
    }
    return false;
}

bool HttpDownloader::ReadPage(const std::string& address, std::string& text) {
    std::string body;
    Transfer transfer(*this);
    transfer.page = &body;
    if (!perform(address, transfer)) {
        return false;
    }
    body.resize(strnlen(body.c_str(), body.size()));
    text = std::move(body);
    return true;
}

bool HttpDownloader::DownloadTo(const std::string& address, const std::string& path,
                                bool executable) {
    Transfer transfer(*this);
    transfer.path = path;
    bool ok = perform(address, transfer);
    if (ok && !transfer.finishFile(executable)) {
        SetLastSystemError(transfer.fileError,
                           SystemErrorText(transfer.fileError) + " (" + path + ")");
        ok = false;
    }
    if (!ok) {
        transfer.discardFile();
    }
    return ok;
}

}  // namespace tarvo
