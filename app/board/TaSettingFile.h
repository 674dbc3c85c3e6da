#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "board/BoardOperations.h"
#include "board/HoldConfiguration.h"

namespace tarvo {

// The ".ta" setting file: 200 bytes, little-endian, no header: the eight hold codes, then Reg1 ..
// Reg6 of TA sections 0..7.
struct TaSetting {
    static constexpr size_t kFileSize = 200;
    HoldCodeArray holdCodes{};
    std::array<TaRegisterValues, 8> sections{};
};

inline constexpr const char* kTaSettingFilter = "Setting File (*.ta)|*.ta|All File (*.*)|*.*||";

std::array<uint8_t, TaSetting::kFileSize> encodeTaSetting(const TaSetting& setting);
// Takes what the bytes reach (at most 200); the rest of `setting` stays as it was.
void decodeTaSetting(const uint8_t* bytes, size_t size, TaSetting& setting);

// A chosen save name without an extension gets ".ta"; any other extension is kept.
std::string withTaExtension(const std::string& path);

struct TaFileResult {
    bool ok = false;    // the file was opened (and, on save, fully written)
    std::string path;   // the file used
    size_t bytes = 0;   // bytes read or written
    std::string error;  // why the file could not be used
};

// "SaveSetting": creates or truncates the file and writes the 200 bytes.
TaFileResult SaveSetting(const std::string& chosenPath, const TaSetting& setting);
// "LoadSetting": reads up to 200 bytes into `setting`; a short file leaves the rest as it was
// (result.bytes tells how much it held).
TaFileResult LoadSetting(const std::string& path, TaSetting& setting);

}  // namespace tarvo
