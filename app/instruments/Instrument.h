#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tarvo {

// An open connection to one bench instrument. Closing happens when the object goes.
class Instrument {
  public:
    virtual ~Instrument() = default;
    // Sends the bytes as given (the caller adds any line end). False with a reason when the
    // instrument did not take them all.
    virtual bool write(const std::string& text, std::string& error) = 0;
};

// The instruments a workstation can reach: a resource search with an expression of the VISA
// kind ("?*" is everything) and opening a resource by name.
class ResourceManager {
  public:
    virtual ~ResourceManager() = default;
    virtual std::vector<std::string> findResources(const std::string& expression) = 0;
    // The connection, or nullptr with the reason in `error`.
    virtual std::unique_ptr<Instrument> open(const std::string& resource, std::string& error) = 0;
};

// The default resource manager: the system's VISA library when one is installed
// (TARVO_VISA_LIBRARY, or libvisa.so on the library path), otherwise the built-in one. Either way
// the search also lists the pulse generator the virtual crate advertises and the names in
// TARVO_VISA_RESOURCES. Returns nullptr with the reason when the system library cannot be used.
std::unique_ptr<ResourceManager> openDefaultResourceManager(std::string& error);

}  // namespace tarvo
