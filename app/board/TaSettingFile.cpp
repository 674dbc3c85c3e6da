#include "board/TaSettingFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tarvo {

std::array<uint8_t, TaSetting::kFileSize> encodeTaSetting(const TaSetting& setting) {
    std::array<uint8_t, TaSetting::kFileSize> bytes{};
    std::copy(setting.holdCodes.begin(), setting.holdCodes.end(), bytes.begin());
    size_t at = 8;
    for (const auto& section : setting.sections) {
        for (uint32_t word : section) {
            for (int b = 0; b < 4; ++b) {
                bytes[at++] = static_cast<uint8_t>(word >> (8 * b));
            }
        }
    }
    return bytes;
}

void decodeTaSetting(const uint8_t* bytes, size_t size, TaSetting& setting) {
    size = std::min(size, TaSetting::kFileSize);
    for (size_t i = 0; i < 8 && i < size; ++i) {
        setting.holdCodes[i] = bytes[i];
    }
    // Whole words only: a word the file cuts short keeps its old value.
    for (size_t w = 0; w < 48; ++w) {
        size_t at = 8 + 4 * w;
        if (at + 4 > size) {
            break;
        }
        uint32_t word = 0;
        for (int b = 0; b < 4; ++b) {
            word |= static_cast<uint32_t>(bytes[at + b]) << (8 * b);
        }
        setting.sections[w / 6][w % 6] = word;
    }
}

std::string withTaExtension(const std::string& path) {
    return std::filesystem::path(path).has_extension() ? path : path + ".ta";
}

TaFileResult SaveSetting(const std::string& chosenPath, const TaSetting& setting) {
    TaFileResult result;
    result.path = withTaExtension(chosenPath);
    std::ofstream out(result.path, std::ios::binary | std::ios::trunc);
    if (!out) {
        result.error = std::strerror(errno);
        return result;
    }
    auto bytes = encodeTaSetting(setting);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    out.close();
    if (!out) {
        result.error = std::strerror(errno);
        return result;
    }
    result.ok = true;
    result.bytes = bytes.size();
    return result;
}

TaFileResult LoadSetting(const std::string& path, TaSetting& setting) {
    TaFileResult result;
    result.path = path;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.error = std::strerror(errno);
        return result;
    }
    std::array<uint8_t, TaSetting::kFileSize> bytes{};
    in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    result.bytes = static_cast<size_t>(in.gcount());
    decodeTaSetting(bytes.data(), result.bytes, setting);
    result.ok = true;
    return result;
}

}  // namespace tarvo
