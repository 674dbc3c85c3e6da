#include "shell/PersistedSettings.h"

#include "shell/ParseHex.h"
#include "shell/SettingsStore.h"

namespace tarvo {
namespace {

std::string indexed(const char* stem, int i) {
    return stem + std::to_string(i);
}

}  // namespace

PersistedSettings readStartupSettings(const SettingsStore& store) {
    PersistedSettings s;
    s.fileName = store.readString("FileName", "");
    s.fileNameClr = store.readString("FileNameClr", "");
    s.baseAddrText = store.readString("BaseAddr", "03030000");
    s.baseAddress = ParseHex(s.baseAddrText);
    s.visaResource = store.readString("VISA_Resource", "");
    s.revision = store.readInt("Revision", 0);
    for (int i = 0; i < 8; ++i) {
        s.enTa[i] = store.readInt(indexed("EnTA", i + 1), 0);
    }
    s.sample0 = store.readInt("Sample0", 0);
    s.sample1 = store.readInt("Sample1", 15);
    s.cycle = store.readInt("Cycle", 1);
    for (int i = 0; i < 8; ++i) {
        s.baseLine[i] = static_cast<uint32_t>(store.readInt(indexed("BaseLine", i), 0));
    }
    s.visaFile = store.readString("VisaFile", "");
    s.offsetAdc = static_cast<uint32_t>(store.readInt("OffsetADC", 32768));
    return s;
}

std::string writeExitSettings(SettingsStore& store, const PersistedSettings& s) {
    store.writeString("FileName", s.fileName);
    store.writeString("FileNameclr", s.fileNameClr);
    store.writeString("BaseAddr", s.baseAddrText);
    store.writeString("VISA_Resource", s.visaResource);
    store.writeInt("Revision", s.revision);
    for (int i = 0; i < 8; ++i) {
        store.writeInt(indexed("EnTA", i + 1), s.enTa[i]);
    }
    store.writeInt("Sample0", s.sample0);
    store.writeInt("Sample1", s.sample1);
    store.writeInt("Cycle", s.cycle);
    for (int i = 0; i < 8; ++i) {
        store.writeInt(indexed("BaseLine", i), static_cast<int32_t>(s.baseLine[i]));
    }
    store.writeString("VisaFile", s.visaFile);
    store.writeInt("OffsetADC", static_cast<int32_t>(s.offsetAdc));
    return store.save();
}

std::string writeBaseLines(SettingsStore& store, const std::array<uint32_t, 8>& baseLine) {
    for (int i = 0; i < 8; ++i) {
        store.writeInt(indexed("BaseLine", i), static_cast<int32_t>(baseLine[i]));
    }
    return store.save();
}

HoldCodes readHoldCodes(const SettingsStore& store) {
    HoldCodes codes{};
    for (int i = 0; i < 8; ++i) {
        // The dialog keeps one byte per channel.
        codes[i] = static_cast<uint8_t>(store.readInt(indexed("Hold", i), 0));
    }
    return codes;
}

std::string writeHoldCodes(SettingsStore& store, const HoldCodes& codes) {
    for (int i = 0; i < 8; ++i) {
        store.writeInt(indexed("Hold", i), codes[i]);
    }
    return store.save();
}

std::string readUpdatePage(const SettingsStore& store) {
    return store.readString("HTML_UpdatePage", kBuiltInUpdatePage);
}

std::string readInstallDir(const SettingsStore& store) {
    return store.readString("InstallDir", "");
}

std::string writeInstallDir(SettingsStore& store, const std::string& folder) {
    store.writeString("InstallDir", folder);
    return store.save();
}

}  // namespace tarvo
