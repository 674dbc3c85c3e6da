#include "shell/SettingsStore.h"

#include <SimpleIni.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "shell/AtomicFile.h"

namespace tarvo {
namespace {

// Every value lives in the unnamed top section.
constexpr const char* kSection = "";

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// The first line that is not blank, a comment, a section header or a name=value pair (1-based),
// or 0 when every line is one of those. The INI reader would skip such lines silently and a
// later save would drop them, so a file holding one is not ours to rewrite without a word.
size_t firstMalformedLine(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return 1;
    }
    size_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") {
            line.remove_prefix(3);
        }
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || trim(line.substr(0, eq)).empty()) {
            return lineNo;
        }
    }
    return 0;
}

std::optional<int32_t> parseInt(std::string_view text) {
    text = trim(text);
    bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    // Stored integers are 32-bit words: signed or unsigned spellings of one.
    if (negative ? magnitude > 0x80000000ull : magnitude > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    uint32_t word = static_cast<uint32_t>(magnitude);
    return static_cast<int32_t>(negative ? 0u - word : word);
}

}  // namespace

struct SettingsStore::Ini {
    CSimpleIniA ini{false, false, false};
};

std::filesystem::path SettingsStore::defaultPath() {
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr ? home : ".") / ".config";
    }
    return base / "Ulmora" / "Tarvo.conf";
}

SettingsStore::SettingsStore(std::filesystem::path file)
    : path_(std::move(file)), ini_(std::make_unique<Ini>()) {}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::load() {
    ini_ = std::make_unique<Ini>();
    broken_ = false;
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec) && !ec) {
        return true;
    }
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream content;
    if (in) {
        content << in.rdbuf();
    }
    std::string text = content.str();
    std::string problem;
    if (!in || in.bad() || std::filesystem::is_directory(path_, ec)) {
        problem = "cannot be read";
    } else if (size_t line = firstMalformedLine(text); line != 0) {
        problem = "is not a settings file (line " + std::to_string(line) + ")";
    } else if (ini_->ini.LoadData(text) < 0) {
        problem = "is not a settings file";
    }
    if (!problem.empty()) {
        ini_ = std::make_unique<Ini>();
        broken_ = true;
        std::fprintf(stderr,
                     "warning: the settings file %s %s; every setting takes its default, and the "
                     "file is kept as it is until the settings are next saved\n",
                     path_.c_str(), problem.c_str());
        return false;
    }
    return true;
}

int32_t SettingsStore::readInt(const std::string& name, int32_t defaultValue) const {
    const char* value = ini_->ini.GetValue(kSection, name.c_str(), nullptr);
    if (value == nullptr) {
        return defaultValue;
    }
    return parseInt(value).value_or(defaultValue);
}

std::string SettingsStore::readString(const std::string& name,
                                      const std::string& defaultValue) const {
    const char* value = ini_->ini.GetValue(kSection, name.c_str(), nullptr);
    return value != nullptr ? std::string(value) : defaultValue;
}

bool SettingsStore::contains(const std::string& name) const {
    return ini_->ini.GetValue(kSection, name.c_str(), nullptr) != nullptr;
}

void SettingsStore::writeInt(const std::string& name, int32_t value) {
    ini_->ini.SetValue(kSection, name.c_str(), std::to_string(value).c_str());
}

void SettingsStore::writeString(const std::string& name, const std::string& value) {
    ini_->ini.SetValue(kSection, name.c_str(), value.c_str());
}

std::string SettingsStore::text() const {
    std::string out;
    ini_->ini.Save(out);
    return out;
}

std::string SettingsStore::save() {
    if (broken_) {
        // Keep what the operator may still want out of the file we could not read.
        std::error_code ec;
        std::filesystem::path kept = path_;
        kept += ".bad";
        std::filesystem::copy_file(path_, kept, std::filesystem::copy_options::overwrite_existing,
                                   ec);
        if (ec) {
            std::fprintf(stderr, "warning: cannot keep the unreadable settings file as %s: %s\n",
                         kept.c_str(), ec.message().c_str());
        }
    }
    std::string problem = writeFileAtomically(path_, text());
    if (!problem.empty()) {
        std::fprintf(stderr, "warning: the settings were not saved: %s\n", problem.c_str());
        return problem;
    }
    broken_ = false;
    return {};
}

}  // namespace tarvo
