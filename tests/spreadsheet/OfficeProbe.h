#pragma once

#include <string>
#include <vector>

#include "spreadsheet/OfficeOptions.h"

namespace nimbra::test {

// Looks into the office the tests drive, over a connection of its own, to see what the code
// under test did there.
class OfficeProbe {
  public:
    explicit OfficeProbe(const tarvo::OfficeOptions& options) : options_(options) {}

    // How many open documents were loaded from this file.
    int openCount(const std::string& path) const;
    // Of the open document loaded from this file:
    std::vector<std::string> sheetNames(const std::string& path) const;
    std::string activeSheet(const std::string& path) const;
    bool automaticCalculation(const std::string& path) const;
    bool modified(const std::string& path) const;
    double value(const std::string& path, int row, int column) const;
    std::string text(const std::string& path, int row, int column) const;

  private:
    tarvo::OfficeOptions options_;
};

// Converts files with a separate office of its own (its own profile under `workDir`), as a user
// would at the command line: soffice --convert-to <format> --outdir <outDir> files.
// Returns the office's output when it fails, empty on success.
std::string convertWithOffice(const tarvo::OfficeOptions& options, const std::string& workDir,
                              const std::string& format, const std::vector<std::string>& files,
                              const std::string& outDir);

}  // namespace nimbra::test
