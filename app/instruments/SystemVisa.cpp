#include "instruments/SystemVisa.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "instruments/VisaExpression.h"

namespace tarvo {

// The VISA types as the standard fixes them for 64-bit Linux.
using ViStatus = int32_t;
using ViUInt32 = uint32_t;
using ViSession = ViUInt32;
using ViObject = ViUInt32;
using ViFindList = ViObject;

namespace {

constexpr ViStatus kViSuccess = 0;
constexpr size_t kFindBufferLength = 256;

struct VisaEntries {
    ViStatus (*openDefaultRM)(ViSession*) = nullptr;
    ViStatus (*findRsrc)(ViSession, const char*, ViFindList*, ViUInt32*, char*) = nullptr;
    ViStatus (*findNext)(ViFindList, char*) = nullptr;
    ViStatus (*open)(ViSession, const char*, ViUInt32, ViUInt32, ViSession*) = nullptr;
    ViStatus (*write)(ViSession, const unsigned char*, ViUInt32, ViUInt32*) = nullptr;
    ViStatus (*close)(ViObject) = nullptr;
    ViStatus (*statusDesc)(ViObject, ViStatus, char*) = nullptr;  // optional
};

// Owns the loaded library; the manager and every instrument keep it alive.
struct VisaLibrary {
    void* handle = nullptr;
    VisaEntries vi;
    ~VisaLibrary() {
        if (handle != nullptr) {
            dlclose(handle);
        }
    }

    std::string describe(ViObject object, ViStatus status) const {
        char text[kFindBufferLength] = {};
        if (vi.statusDesc != nullptr && vi.statusDesc(object, status, text) >= kViSuccess &&
            text[0] != '\0') {
            return text;
        }
        char code[32];
        std::snprintf(code, sizeof code, "VISA status 0x%08X", static_cast<unsigned>(status));
        return code;
    }
};

template <class F>
bool bind(void* handle, const char* name, F& entry, std::string& missing) {
    entry = reinterpret_cast<F>(dlsym(handle, name));
    if (entry == nullptr && missing.empty()) {
        missing = name;
    }
    return entry != nullptr;
}

class VisaInstrument : public Instrument {
  public:
    VisaInstrument(std::shared_ptr<VisaLibrary> library, ViSession session)
        : library_(std::move(library)), session_(session) {}
    ~VisaInstrument() override { library_->vi.close(session_); }

    bool write(const std::string& text, std::string& error) override {
        ViUInt32 written = 0;
        ViStatus status =
            library_->vi.write(session_, reinterpret_cast<const unsigned char*>(text.data()),
                               static_cast<ViUInt32>(text.size()), &written);
        if (status < kViSuccess) {
            error = library_->describe(session_, status);
            return false;
        }
        if (written != text.size()) {
            error = "the instrument took " + std::to_string(written) + " of " +
                    std::to_string(text.size()) + " bytes";
            return false;
        }
        return true;
    }

  private:
    std::shared_ptr<VisaLibrary> library_;
    ViSession session_;
};

class SystemVisaManager : public ResourceManager {
  public:
    SystemVisaManager(std::shared_ptr<VisaLibrary> library, ViSession rm,
                      std::vector<std::string> extraNames)
        : library_(std::move(library)), rm_(rm), extraNames_(std::move(extraNames)) {}
    ~SystemVisaManager() override { library_->vi.close(rm_); }

    std::vector<std::string> findResources(const std::string& expression) override {
        std::vector<std::string> names;
        ViFindList list = 0;
        ViUInt32 count = 0;
        char found[kFindBufferLength] = {};
        ViStatus status = library_->vi.findRsrc(rm_, expression.c_str(), &list, &count, found);
        if (status >= kViSuccess) {
            for (ViUInt32 i = 0; i < count; ++i) {
                if (i > 0) {
                    found[0] = '\0';
                    if (library_->vi.findNext(list, found) < kViSuccess) {
                        break;
                    }
                }
                found[kFindBufferLength - 1] = '\0';
                names.push_back(found);
            }
            library_->vi.close(list);
        }
        for (const std::string& name : extraNames_) {
            if (matchesVisaExpression(expression, name) &&
                std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        }
        return names;
    }

    std::unique_ptr<Instrument> open(const std::string& resource, std::string& error) override {
        ViSession session = 0;
        ViStatus status = library_->vi.open(rm_, resource.c_str(), 0, 0, &session);
        if (status < kViSuccess) {
            error = library_->describe(rm_, status);
            return nullptr;
        }
        return std::make_unique<VisaInstrument>(library_, session);
    }

  private:
    std::shared_ptr<VisaLibrary> library_;
    ViSession rm_;
    std::vector<std::string> extraNames_;
};

}  // namespace

std::unique_ptr<ResourceManager> openSystemVisa(const std::string& path,
                                                std::vector<std::string> extraNames,
                                                std::string& error) {
    auto library = std::make_shared<VisaLibrary>();
    library->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle == nullptr) {
        const char* why = dlerror();
        error = why != nullptr ? why : "cannot load " + path;
        return nullptr;
    }
    std::string missing;
    VisaEntries& vi = library->vi;
    bind(library->handle, "viOpenDefaultRM", vi.openDefaultRM, missing);
    bind(library->handle, "viFindRsrc", vi.findRsrc, missing);
    bind(library->handle, "viFindNext", vi.findNext, missing);
    bind(library->handle, "viOpen", vi.open, missing);
    bind(library->handle, "viWrite", vi.write, missing);
    bind(library->handle, "viClose", vi.close, missing);
    if (!missing.empty()) {
        error = path + " has no " + missing;
        return nullptr;
    }
    std::string optional;
    bind(library->handle, "viStatusDesc", vi.statusDesc, optional);
    ViSession rm = 0;
    if (ViStatus status = vi.openDefaultRM(&rm); status < kViSuccess) {
        error = "the VISA resource manager did not open: " + library->describe(0, status);
        return nullptr;
    }
    return std::make_unique<SystemVisaManager>(library, rm, std::move(extraNames));
}

}  // namespace tarvo
