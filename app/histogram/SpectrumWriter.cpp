#include "histogram/SpectrumWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvo {

namespace {

constexpr char kTrailer[] =
    "$ROI:\r\n"
    "3\r\n"
    "368 383\r\n"
    "389 402\r\n"
    "408 419\r\n"
    "$PRESETS:\r\n"
    "None\r\n"
    "0\r\n"
    "0\r\n"
    "$ENER_FIT:\r\n"
    "8.051856 0.014782\r\n"
    "$MCA_CAL:\r\n"
    "3\r\n"
    "8.051856E+000 1.478172E-002 0.000000E+000 keV\r\n"
    "$SHAPE_CAL:\r\n"
    "3\r\n"
    "6.024698E+001 -1.382197E-001 0.000000E+000\r\n";
static_assert(sizeof(kTrailer) - 1 == 212);

constexpr size_t kLineMax = 20;

bool writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t done = ::write(fd, p, n);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

std::tm localClock() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

size_t formatCountLine(char* out, uint32_t v, int width) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    size_t pos = 0;
    for (int pad = width - n; pad > 0; --pad) {
        out[pos++] = ' ';
    }
    while (n > 0) {
        out[pos++] = digits[--n];
    }
    out[pos++] = '\r';
    out[pos++] = '\n';
    return pos;
}

std::string_view formatSpectrum(std::vector<char>& buffer, int channel, SpectrumCounts counts,
                                bool reversed, const std::tm& when) {
    char date[64];
    if (std::strftime(date, sizeof date, "%m/%d/%Y %H:%M:%S", &when) == 0) {
        date[0] = '\0';
    }
    char header[256];
    int headerSize = std::snprintf(header, sizeof header,
                                   "$SPEC_ID:\r\n"
                                   "*VATA TOLK DETECTOR*\r\n"
                                   "$SPEC_REM:\r\n"
                                   "DET# 1\r\n"
                                   "DETDESC# *RIZOVIVO CH%d*\r\n"
                                   "AP# Maestro Version 6.08\r\n"
                                   "$DATE_MEA:\r\n"
                                   "*%s*\r\n"
                                   "$MEAS_TIM:\r\n"
                                   "*1 1*\r\n"
                                   "$DATA:\r\n"
                                   "0 8192\r\n",
                                   channel, date);
    headerSize = std::clamp(headerSize, 0, static_cast<int>(sizeof header) - 1);
    const size_t most =
        static_cast<size_t>(headerSize) + counts.size() * kLineMax + sizeof kTrailer;
    if (buffer.size() < most) {
        buffer.resize(most);
    }
    char* const start = buffer.data();
    char* p = start;
    std::memcpy(p, header, static_cast<size_t>(headerSize));
    p += headerSize;
    for (size_t i = 0; i < counts.size(); ++i) {
        const uint32_t count = counts[reversed ? counts.size() - 1 - i : i];
        if (count < kHistogramBins) {
            // Most bins of a spectrum hold small counts: three blanks widen the 5-wide line.
            std::memcpy(p, "   ", 3);
            copyValueLine(p + 3, count);
            p += 3 + kValueLineBytes;
        } else {
            p += formatCountLine(p, count, 8);
        }
    }
    std::memcpy(p, kTrailer, sizeof kTrailer - 1);
    p += sizeof kTrailer - 1;
    return std::string_view(start, static_cast<size_t>(p - start));
}

bool writeSpectrum(const std::string& path, int channel, SpectrumCounts counts, bool reversed,
                   const SpectrumClock& clock) {
    // Written under a temporary name and renamed, so that a failure never leaves a partial
    // spectrum in place of the file.
    const std::string part = path + ".part";
    int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    // One spectrum is about 80 KiB; the buffer is kept per thread so a run of 256 files
    // allocates it once.
    thread_local std::vector<char> buffer;
    std::string_view text = formatSpectrum(buffer, channel, counts, reversed, clock());
    bool ok = writeAll(fd, text.data(), text.size());
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(part.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        ::unlink(part.c_str());
        errno = error;
    }
    return ok;
}

}  // namespace tarvo
