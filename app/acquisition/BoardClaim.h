#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvo {

// One run per board: a run claims its board before it touches it, with an advisory lock on a file
// named for the bridge kind, link and the board's base address. The lock goes with the claim (or
// with the process), so a run that was killed leaves nothing behind. The file holds the holder's
// process id and program, for the refusal message of the next run.
class BoardClaim {
  public:
    // Where the claim files live: the virtual crate's folder when KOVRAVME_SIM_DIR names one
    // (each virtual crate is its own bridge), else /tmp beside the bridge library's locks.
    static std::string defaultFolder();
    static std::string fileName(int32_t bridgeKind, int link, uint32_t baseAddress);

    // Claims the board; nothing, with the refusal in `refusal`, when another run holds it or the
    // claim file cannot be used.
    static std::optional<BoardClaim> take(const std::string& folder, int32_t bridgeKind, int link,
                                          uint32_t baseAddress, std::string& refusal);

    BoardClaim(BoardClaim&& other) noexcept;
    BoardClaim& operator=(BoardClaim&& other) noexcept;
    BoardClaim(const BoardClaim&) = delete;
    BoardClaim& operator=(const BoardClaim&) = delete;
    ~BoardClaim();

    const std::string& path() const { return path_; }

  private:
    BoardClaim(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    void release();

    int fd_ = -1;
    std::string path_;
};

}  // namespace tarvo
