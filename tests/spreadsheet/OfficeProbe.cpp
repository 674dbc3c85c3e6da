#include "OfficeProbe.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <osl/file.hxx>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "spreadsheet/OfficeLink.h"
#include "spreadsheet/UnoText.h"

namespace nimbra::test {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using tarvo::uno::toOu;
using tarvo::uno::toStd;

namespace {

std::vector<Reference<css::frame::XModel>> documentsOf(const tarvo::OfficeOptions& options,
                                                       const std::string& path) {
    rtl::OUString url;
    osl::FileBase::getFileURLFromSystemPath(
        toOu(std::filesystem::absolute(path).lexically_normal().string()), url);
    const auto desktop = tarvo::uno::connectDesktop(options, nullptr);
    std::vector<Reference<css::frame::XModel>> found;
    const auto documents = desktop->getComponents()->createEnumeration();
    while (documents->hasMoreElements()) {
        Reference<css::frame::XModel> model(documents->nextElement(), UNO_QUERY);
        if (model.is() && model->getURL() == url) {
            found.push_back(model);
        }
    }
    return found;
}

Reference<css::frame::XModel> documentOf(const tarvo::OfficeOptions& options,
                                         const std::string& path) {
    const auto found = documentsOf(options, path);
    if (found.size() != 1) {
        throw std::runtime_error(path + " is open " + std::to_string(found.size()) + " times");
    }
    return found.front();
}

Reference<css::table::XCell> cellOf(const tarvo::OfficeOptions& options, const std::string& path,
                                    int row, int column) {
    const auto sheets =
        Reference<css::sheet::XSpreadsheetDocument>(documentOf(options, path), UNO_QUERY_THROW)
            ->getSheets();
    const Reference<css::sheet::XSpreadsheet> sheet(sheets->getByName(toOu("TA8")),
                                                    UNO_QUERY_THROW);
    return sheet->getCellByPosition(column - 1, row - 1);
}

}  // namespace

int OfficeProbe::openCount(const std::string& path) const {
    return static_cast<int>(documentsOf(options_, path).size());
}

std::vector<std::string> OfficeProbe::sheetNames(const std::string& path) const {
    const auto sheets =
        Reference<css::sheet::XSpreadsheetDocument>(documentOf(options_, path), UNO_QUERY_THROW)
            ->getSheets();
    std::vector<std::string> names;
    for (const auto& name : sheets->getElementNames()) {
        names.push_back(toStd(name));
    }
    return names;
}

std::string OfficeProbe::activeSheet(const std::string& path) const {
    const Reference<css::sheet::XSpreadsheetView> view(
        documentOf(options_, path)->getCurrentController(), UNO_QUERY_THROW);
    return toStd(
        Reference<css::container::XNamed>(view->getActiveSheet(), UNO_QUERY_THROW)->getName());
}

bool OfficeProbe::automaticCalculation(const std::string& path) const {
    return Reference<css::sheet::XCalculatable>(documentOf(options_, path), UNO_QUERY_THROW)
        ->isAutomaticCalculationEnabled();
}

bool OfficeProbe::modified(const std::string& path) const {
    return Reference<css::util::XModifiable>(documentOf(options_, path), UNO_QUERY_THROW)
        ->isModified();
}

double OfficeProbe::value(const std::string& path, int row, int column) const {
    return cellOf(options_, path, row, column)->getValue();
}

std::string OfficeProbe::text(const std::string& path, int row, int column) const {
    return toStd(Reference<css::text::XText>(cellOf(options_, path, row, column), UNO_QUERY_THROW)
                     ->getString());
}

std::string convertWithOffice(const tarvo::OfficeOptions& options, const std::string& workDir,
                              const std::string& format, const std::vector<std::string>& files,
                              const std::string& outDir) {
    const std::string log = workDir + "/convert.log";
    std::string command =
        "'" + options.sofficeCommand() + "' --headless --norestore -env:UserInstallation=file://" +
        workDir + "/convert-profile --convert-to '" + format + "' --outdir '" + outDir + "'";
    for (const auto& file : files) {
        command += " '" + file + "'";
    }
    command += " >'" + log + "' 2>&1";
    const int rc = std::system(command.c_str());
    if (rc == 0) {
        return {};
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return "exit status " + std::to_string(rc) + ": " + text.str();
}

}  // namespace nimbra::test
