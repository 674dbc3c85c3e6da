#include "spreadsheet/CExcel.h"

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <osl/file.hxx>

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "shell/Operator.h"
#include "spreadsheet/AutomationError.h"
#include "spreadsheet/CCells.h"
#include "spreadsheet/OfficeLink.h"
#include "spreadsheet/UnoText.h"

namespace tarvo {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

const char kSheetName[] = "TA8";
// The office's name for the binary .xls format the results workbook is kept in.
const char kXlsFilter[] = "MS Excel 97";

std::string systemPath(const rtl::OUString& url) {
    rtl::OUString path;
    if (osl::FileBase::getSystemPathFromFileURL(url, path) != osl::FileBase::E_None) {
        return {};
    }
    return uno::toStd(path);
}

rtl::OUString fileUrl(const std::filesystem::path& path) {
    rtl::OUString url;
    if (osl::FileBase::getFileURLFromSystemPath(uno::toOu(path.string()), url) !=
        osl::FileBase::E_None) {
        throw std::invalid_argument("not a file path: " + path.string());
    }
    return url;
}

// Brings the document's window to the front.
void activate(const Reference<css::frame::XModel>& model) {
    const auto controller = model->getCurrentController();
    if (!controller.is()) {
        return;
    }
    const auto frame = controller->getFrame();
    if (!frame.is()) {
        return;
    }
    frame->activate();
    const auto window = frame->getContainerWindow();
    if (window.is()) {
        window->setVisible(true);
        Reference<css::awt::XTopWindow> top(window, UNO_QUERY);
        if (top.is()) {
            top->toFront();
        }
    }
}

// Runs an office call, giving its failure the office's own words.
template <typename Call>
auto automation(Call&& call) {
    try {
        return call();
    } catch (const css::uno::Exception& error) {
        throw AutomationError(uno::describe(error));
    }
}

}  // namespace

struct CExcel::Impl {
    Impl(Operator& o, OfficeOptions opts) : op(o), options(std::move(opts)) {}

    Reference<css::frame::XModel> findOpen(const std::filesystem::path& path) const;
    Reference<css::frame::XModel> loadOrCreate(const std::filesystem::path& path) const;
    void openSteps(const std::string& path);
    void release() {
        cells.release();
        calculation.clear();
        sheet.clear();
        workbook.clear();
        desktop.clear();
    }

    Operator& op;
    OfficeOptions options;
    std::unique_ptr<OfficeProcess> started;

    Reference<css::frame::XDesktop2> desktop;
    Reference<css::frame::XModel> workbook;
    Reference<css::sheet::XSpreadsheet> sheet;
    Reference<css::sheet::XCalculatable> calculation;
    CCells cells;
};

Reference<css::frame::XModel> CExcel::Impl::findOpen(const std::filesystem::path& path) const {
    // An open document by the same path wins over one that only shares the file name.
    Reference<css::frame::XModel> sameName;
    const auto documents = desktop->getComponents()->createEnumeration();
    while (documents->hasMoreElements()) {
        Reference<css::frame::XModel> model(documents->nextElement(), UNO_QUERY);
        if (!model.is() || model->getURL().isEmpty()) {
            continue;
        }
        const std::filesystem::path location = systemPath(model->getURL());
        if (location == path) {
            return model;
        }
        if (!sameName.is() && location.filename() == path.filename()) {
            sameName = model;
        }
    }
    return sameName;
}

Reference<css::frame::XModel> CExcel::Impl::loadOrCreate(const std::filesystem::path& path) const {
    // A headless office has no window to show a document in, and building a view for one
    // brings it down.
    css::beans::PropertyValue hidden;
    hidden.Name = "Hidden";
    hidden.Value <<= true;
    const auto loadArgs = options.runHeadless()
                              ? css::uno::Sequence<css::beans::PropertyValue>(&hidden, 1)
                              : css::uno::Sequence<css::beans::PropertyValue>();
    if (std::filesystem::exists(path)) {
        Reference<css::frame::XModel> model(
            desktop->loadComponentFromURL(fileUrl(path), rtl::OUString("_default"), 0, loadArgs),
            UNO_QUERY);
        if (!model.is()) {
            throw AutomationError("the office could not load " + path.string());
        }
        return model;
    }
    Reference<css::frame::XModel> model(
        desktop->loadComponentFromURL(rtl::OUString("private:factory/scalc"),
                                      rtl::OUString("_default"), 0, loadArgs),
        UNO_QUERY_THROW);
    css::beans::PropertyValue filter;
    filter.Name = "FilterName";
    filter.Value <<= uno::toOu(kXlsFilter);
    Reference<css::frame::XStorable>(model, UNO_QUERY_THROW)
        ->storeAsURL(fileUrl(path), css::uno::Sequence<css::beans::PropertyValue>(&filter, 1));
    return model;
}

void CExcel::Impl::openSteps(const std::string& rawPath) {
    const std::filesystem::path path = std::filesystem::absolute(rawPath).lexically_normal();
    workbook = findOpen(path);
    if (!workbook.is()) {
        workbook = loadOrCreate(path);
    }
    if (!options.runHeadless()) {
        activate(workbook);
    }

    const auto sheets =
        Reference<css::sheet::XSpreadsheetDocument>(workbook, UNO_QUERY_THROW)->getSheets();
    const auto name = uno::toOu(kSheetName);
    if (!sheets->hasByName(name)) {
        const auto count =
            Reference<css::container::XIndexAccess>(sheets, UNO_QUERY_THROW)->getCount();
        sheets->insertNewByName(name, static_cast<sal_Int16>(count));
    }
    sheet.set(sheets->getByName(name), UNO_QUERY_THROW);
    Reference<css::sheet::XSpreadsheetView> view(workbook->getCurrentController(), UNO_QUERY);
    if (view.is()) {
        view->setActiveSheet(sheet);
    }
    cells = CCells(sheet);
    calculation.set(workbook, UNO_QUERY_THROW);
    calculation->enableAutomaticCalculation(false);
}

CExcel::CExcel(Operator& op, OfficeOptions options)
    : impl_(std::make_unique<Impl>(op, std::move(options))) {}

// A workbook must not be left calculating by hand when its owner goes away without closing it.
CExcel::~CExcel() {
    if (isOpen()) {
        close();
    }
}

WorkbookOpen CExcel::open(const std::string& path) {
    if (isOpen()) {
        close();
    }
    if (!impl_->options.officeInstalled()) {
        impl_->op.error("Server not found");
        return WorkbookOpen::NoOffice;
    }
    if (impl_->started && !impl_->started->running()) {
        impl_->started.reset();
    }
    try {
        impl_->desktop = uno::connectDesktop(impl_->options, &impl_->started);
    } catch (const uno::ServerStartError& error) {
        impl_->op.error(std::string("Server not found:\r\n") + error.what());
        return WorkbookOpen::Failed;
    }
    try {
        try {
            impl_->openSteps(path);
            return WorkbookOpen::Opened;
        } catch (const css::uno::Exception& error) {
            throw AutomationError(uno::describe(error));
        }
    } catch (const AutomationError& error) {
        impl_->release();
        impl_->op.error(std::string("Excel Error:\r\n\r\n") + error.what() + "\r\n");
    } catch (const std::exception&) {
        impl_->release();
        impl_->op.error("Excel Error");
    }
    return WorkbookOpen::Failed;
}

bool CExcel::isOpen() const {
    return impl_->cells.isSet();
}

bool CExcel::close() {
    if (!impl_->desktop.is()) {
        return true;
    }
    bool ok = true;
    try {
        if (impl_->calculation.is()) {
            impl_->calculation->enableAutomaticCalculation(true);
        }
    } catch (const css::uno::Exception&) {
        ok = false;
    }
    impl_->release();
    if (!ok) {
        impl_->op.error("Error on CExcel::Close()");
    }
    return ok;
}

void CExcel::setItem(int row, int column, const CellValue& value) {
    automation([&] { impl_->cells.setItem(row, column, value); });
}

void CExcel::recalculate() {
    if (!impl_->calculation.is()) {
        throw std::logic_error("no workbook");
    }
    automation([&] { impl_->calculation->calculate(); });
}

bool CExcel::storeAndClose() {
    if (!impl_->workbook.is()) {
        return close();
    }
    std::optional<std::string> failure;
    try {
        impl_->calculation->enableAutomaticCalculation(true);
        Reference<css::frame::XStorable>(impl_->workbook, UNO_QUERY_THROW)->store();
    } catch (const css::uno::Exception& error) {
        failure = uno::describe(error);
    }
    impl_->release();
    if (failure) {
        impl_->op.error("Excel Error:\r\n\r\n" + *failure + "\r\n");
    }
    return !failure;
}

bool CExcel::endStartedOffice() {
    if (!impl_->started) {
        return false;
    }
    auto process = std::move(impl_->started);
    if (process->running()) {
        try {
            if (!impl_->desktop.is()) {
                impl_->desktop = uno::connectDesktop(impl_->options, nullptr);
            }
            impl_->desktop->terminate();
        } catch (const css::uno::Exception&) {
            // The bridge goes down with the office, often before the call returns.
        } catch (const uno::ServerStartError&) {
        }
        impl_->release();
        if (!process->waitForExit(std::chrono::seconds(30))) {
            process->kill();
        }
    }
    return true;
}

std::optional<pid_t> CExcel::startedOfficePid() const {
    if (impl_->started && impl_->started->running()) {
        return impl_->started->pid();
    }
    return std::nullopt;
}

}  // namespace tarvo
