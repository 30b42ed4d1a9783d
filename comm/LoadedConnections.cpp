// The window's connection libraries: each is a module loaded the first time
// a connection of its kind is used. The ports it hands out load theirs only
// when opened, on the send job's thread.
#include "CommErrors.h"
#include "ConnectionLibraries.h"
#include "DeferredPort.h"
#include "PrinterPort.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace krv::comm {

namespace {

// The folder of the running program.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string program(path, std::size_t(length));
    return program.substr(0, program.rfind('/'));
}

// Installed, the modules sit in a private folder found from the program's own
// place (KRV_CONNECTION_MODULES: relative to the program's folder); in the
// build tree, programs find them through their build RUNPATH.
void *openModule(const char *file, const QString &kind) {
    const std::string installed =
        programFolder() + "/" KRV_CONNECTION_MODULES "/" + std::string(file);
    if (void *module = ::dlopen(installed.c_str(), RTLD_NOW | RTLD_LOCAL))
        return module;
    QString reason = QString::fromLocal8Bit(::dlerror());
    if (::access(installed.c_str(), F_OK) != 0) {
        if (void *module = ::dlopen(file, RTLD_NOW | RTLD_LOCAL))
            return module;
        reason = QString::fromLocal8Bit(::dlerror());
    }
    throw RuntimeError(errors::ConnectionLibraryMissing,
                       QStringLiteral("The %1 connection cannot be used: its library could not "
                                      "be loaded (%2).")
                           .arg(kind, reason));
}

template <class Library>
const Library &loadModule(const char *file, const char *entry, const QString &kind) {
    void *module = openModule(file, kind);
    using Entry = const Library *(*)();
    const auto get = reinterpret_cast<Entry>(::dlsym(module, entry));
    const Library *library = get ? get() : nullptr;
    if (!library || library->abi != ConnectionLibraryAbi)
        throw RuntimeError(errors::ConnectionLibraryMissing,
                           QStringLiteral("The %1 connection cannot be used: its library %2 "
                                          "belongs to another version of the program.")
                               .arg(kind, QString::fromLatin1(file)));
    return *library;
}

// Loaded once, by whichever thread asks first; a failed load is tried again
// on the next use.
const SpoolerLibrary &spoolerModule() {
    static const SpoolerLibrary &library = loadModule<SpoolerLibrary>(
        "libkrv520-spooler.so", "krv520SpoolerLibrary", QStringLiteral("print spooler"));
    return library;
}

const TcpLibrary &tcpModule() {
    static const TcpLibrary &library =
        loadModule<TcpLibrary>("libkrv520-tcp.so", "krv520TcpLibrary", QStringLiteral("TCP/IP"));
    return library;
}

const SerialLibrary &serialModule() {
    static const SerialLibrary &library = loadModule<SerialLibrary>(
        "libkrv520-serial.so", "krv520SerialLibrary", QStringLiteral("serial port"));
    return library;
}

} // namespace

const SpoolerLibrary &spoolerLibrary() {
    static const SpoolerLibrary library{
        ConnectionLibraryAbi,
        [](const QString &queue) -> std::unique_ptr<PrinterPort> {
            return std::make_unique<DeferredPort>(
                [queue] { return spoolerModule().makePort(queue); });
        },
        [](std::chrono::milliseconds bound) { return spoolerModule().listQueues(bound); },
        [](double seconds) { return spoolerModule().noAnswer(seconds); },
        [] { return spoolerModule().queues(); },
        [] { return spoolerModule().defaultQueue(); },
    };
    return library;
}

const TcpLibrary &tcpLibrary() {
    static const TcpLibrary library{
        ConnectionLibraryAbi,
        [](const QString &host, quint16 port) -> std::unique_ptr<PrinterPort> {
            return std::make_unique<DeferredPort>(
                [host, port] { return tcpModule().makePort(host, port); });
        },
    };
    return library;
}

const SerialLibrary &serialLibrary() {
    static const SerialLibrary library{
        ConnectionLibraryAbi,
        [](const SerialSettings &settings,
           std::chrono::milliseconds writeBound) -> std::unique_ptr<PrinterPort> {
            return std::make_unique<DeferredPort>(
                [settings, writeBound] { return serialModule().makePort(settings, writeBound); });
        },
        [] { return serialModule().availablePorts(); },
    };
    return library;
}

} // namespace krv::comm
