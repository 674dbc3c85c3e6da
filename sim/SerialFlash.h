#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vmesim {

// The serial flash of the bridge, the card and the link device: pages of 264 bytes, driven one
// byte at a time while its select line (the owner's flash enable register) is held. A command is
// the bytes sent during one select: 0x82 programs a page with the bytes that follow the address,
// 0x81 erases a page, 0xD2 reads a page from the given byte on. Programming and erasing happen when
// the select is released, as on the chip. Erased bytes read 0xFF.
class SerialFlash {
  public:
    static constexpr size_t kPageSize = 264;
    static constexpr size_t kPageCount = 4096;

    // With a path, the flash image is loaded from that file and every changed page is written
    // back to it, so the contents survive a restart.
    explicit SerialFlash(std::string path = {});

    void select(bool selected);
    bool selected() const { return selected_; }
    void writeByte(uint8_t byte);
    uint8_t readByte();

    const uint8_t* page(size_t number) const { return image_.data() + number * kPageSize; }

    uint64_t pagesProgrammed() const { return programmed_; }
    uint64_t pagesErased() const { return erased_; }

  private:
    // Page and byte offset of a command's three address bytes.
    struct Location {
        size_t page;
        size_t offset;
    };
    Location location() const;
    void finishCommand();
    void persist(size_t page);

    std::string path_;
    std::vector<uint8_t> image_;
    bool selected_ = false;
    std::vector<uint8_t> command_;
    std::array<uint8_t, kPageSize> buffer_{};
    size_t writeOffset_ = 0;
    size_t readPage_ = 0;
    size_t readOffset_ = 0;
    bool reading_ = false;
    uint64_t programmed_ = 0;
    uint64_t erased_ = 0;
};

}  // namespace vmesim
