#include "acquisition/DaqFileLayout.h"

#include <filesystem>

namespace tarvo::daq {

std::string fifoFileName(const std::string& filenameClr, int fifo) {
    std::filesystem::path path(filenameClr);
    std::string name =
        path.stem().string() + "_" + std::to_string(fifo) + path.extension().string();
    return (path.parent_path() / name).string();
}

}  // namespace tarvo::daq
