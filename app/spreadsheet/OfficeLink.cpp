#include "spreadsheet/OfficeLink.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <chrono>
#include <mutex>
#include <thread>

#include "spreadsheet/UnoText.h"

namespace tarvo::uno {
namespace {

using css::uno::Reference;
using css::uno::XComponentContext;

// The process's own UNO environment, bootstrapped once from the office's installation: without
// URE_BOOTSTRAP the first call into the runtime aborts.
Reference<XComponentContext> localContext(const OfficeOptions& options) {
    static std::mutex mutex;
    static Reference<XComponentContext> context;
    std::lock_guard<std::mutex> lock(mutex);
    if (!context.is()) {
        rtl::Bootstrap::set("URE_BOOTSTRAP",
                            toOu("vnd.sun.star.pathname:" + options.bootstrapIni()));
        context = cppu::defaultBootstrap_InitialComponentContext();
    }
    return context;
}

Reference<XComponentContext> resolve(const Reference<XComponentContext>& local,
                                     const OfficeOptions& options) {
    auto resolver = css::bridge::UnoUrlResolver::create(local);
    try {
        return Reference<XComponentContext>(
            resolver->resolve(toOu("uno:" + options.acceptString())), css::uno::UNO_QUERY_THROW);
    } catch (const css::connection::NoConnectException&) {
        return {};
    }
}

}  // namespace

Reference<css::frame::XDesktop2> connectDesktop(const OfficeOptions& options,
                                                std::unique_ptr<OfficeProcess>* started) {
    Reference<XComponentContext> remote;
    try {
        const auto local = localContext(options);
        remote = resolve(local, options);
        if (!remote.is() && started == nullptr) {
            throw ServerStartError("no office accepts connections on pipe " + options.pipeName);
        }
        if (!remote.is()) {
            std::unique_ptr<OfficeProcess> process;
            try {
                process = OfficeProcess::start(options.sofficeCommand(), options.startArguments());
            } catch (const std::runtime_error& error) {
                throw ServerStartError(error.what());
            }
            const auto end = std::chrono::steady_clock::now() + options.startTimeout;
            while (!remote.is()) {
                if (!process->running() && process->exitStatus() != 0) {
                    const std::string output = process->output();
                    throw ServerStartError(
                        output.empty() ? options.sofficeCommand() + " exited with status " +
                                             std::to_string(process->exitStatus().value_or(-1))
                                       : output);
                }
                if (std::chrono::steady_clock::now() >= end) {
                    process->kill();
                    throw ServerStartError(
                        "the office did not accept connections on pipe " + options.pipeName +
                        " within " + std::to_string(options.startTimeout.count() / 1000) + " s");
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                remote = resolve(local, options);
            }
            // A launcher that already ended passed the request on to a running office.
            if (process->running()) {
                *started = std::move(process);
            }
        }
        return css::frame::Desktop::create(remote);
    } catch (const css::uno::Exception& error) {
        throw ServerStartError(describe(error));
    }
}

}  // namespace tarvo::uno
