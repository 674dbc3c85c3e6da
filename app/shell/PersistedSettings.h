#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarvo {

class SettingsStore;

// The values the main window takes from the settings at start-up and gives back at an orderly
// exit, with their defaults on a clean machine.
struct PersistedSettings {
    std::string fileName;                   // "FileName"
    std::string fileNameClr;                // "FileNameClr" read, "FileNameclr" written: one value
    std::string baseAddrText = "03030000";  // "BaseAddr" as the operator's text
    uint32_t baseAddress = 0x03030000;      // ... and as ParseHex reads it
    std::string visaResource;               // "VISA_Resource"
    int32_t revision = 0;                   // "Revision": "ADC Rev1" (0 or 1)
    std::array<int32_t, 8> enTa{};          // "EnTA1" .. "EnTA8"
    int32_t sample0 = 0;                    // "Sample0"
    int32_t sample1 = 15;                   // "Sample1"
    int32_t cycle = 1;                      // "Cycle"
    std::array<uint32_t, 8> baseLine{};     // "BaseLine0" .. "BaseLine7"
    std::string visaFile;                   // "VisaFile"
    uint32_t offsetAdc = 32768;             // "OffsetADC"
};

using HoldCodes = std::array<uint8_t, 8>;

// Where the update page is looked for unless "HTML_UpdatePage" says otherwise.
inline constexpr const char* kBuiltInUpdatePage = "http://www.ulmora.com/tarvo/update.html";

// Start-up: every value of PersistedSettings, absent ones at their defaults.
PersistedSettings readStartupSettings(const SettingsStore& store);
// Orderly exit: every value, changed or not, then the store is saved. Returns the save's
// failure text (empty when saved).
std::string writeExitSettings(SettingsStore& store, const PersistedSettings& settings);

// "Base Lines" confirmed with OK: written and saved at once.
std::string writeBaseLines(SettingsStore& store, const std::array<uint32_t, 8>& baseLine);

// "Hold0" .. "Hold7": read each time the hold dialog opens, saved when it is closed.
HoldCodes readHoldCodes(const SettingsStore& store);
std::string writeHoldCodes(SettingsStore& store, const HoldCodes& codes);

// Web update: the page (never written by the program) and the install folder.
std::string readUpdatePage(const SettingsStore& store);
std::string readInstallDir(const SettingsStore& store);
std::string writeInstallDir(SettingsStore& store, const std::string& folder);

}  // namespace tarvo
