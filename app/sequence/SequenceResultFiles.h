#pragma once

#include <filesystem>
#include <string>

namespace tarvo {

class Operator;

// Where both sequence tests put their results: the folder of the "Filename clr" path. When that
// folder does not exist the operator may choose another; on cancel the missing folder stays.
std::filesystem::path sequenceResultsFolder(const std::string& filenameClr, Operator* op);

// printf into a string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarvo
