#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace tarvo {

// The per-user settings: one INI file whose values all lie in the unnamed top section, names
// compared without regard to case ("FileNameClr" and "FileNameclr" are one value). Integers are
// stored as decimal text, strings as they are.
//
// A file that cannot be read or does not parse as such a file gives an empty store (so every
// value takes its default) and a warning on stderr; the file is not touched until the next save,
// which first keeps the broken file beside it as "<name>.bad".
class SettingsStore {
  public:
    // $XDG_CONFIG_HOME/Ulmora/Tarvo.conf, or ~/.config/Ulmora/Tarvo.conf.
    static std::filesystem::path defaultPath();

    explicit SettingsStore(std::filesystem::path file = defaultPath());
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Reads the file again, replacing what the store holds. False when the file existed but
    // could not be used (the warning has been printed); a missing file is a clean start.
    bool load();
    bool loadedBroken() const { return broken_; }

    // A value that is absent, or an integer whose text is not a number, gives the default.
    int32_t readInt(const std::string& name, int32_t defaultValue) const;
    std::string readString(const std::string& name, const std::string& defaultValue) const;
    bool contains(const std::string& name) const;

    void writeInt(const std::string& name, int32_t value);
    void writeString(const std::string& name, const std::string& value);

    // Writes the whole store to the file atomically. On failure the old file stays, the reason
    // is printed on stderr and returned; an empty text means saved.
    std::string save();

    // The file's text as the store would write it now.
    std::string text() const;

  private:
    struct Ini;
    std::filesystem::path path_;
    std::unique_ptr<Ini> ini_;
    bool broken_ = false;
};

}  // namespace tarvo
