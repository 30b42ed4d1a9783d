#include "BuiltInConnections.h"
#include "ConnectionSettings.h"
#include "QueueLookup.h"
#include "SpoolerPort.h"

#include <cups/cups.h>

namespace krv::comm {

QueueListing listSpoolerQueues(std::chrono::milliseconds bound) {
    const double seconds = double(bound.count()) / 1000.0;
    QueueListing listing;
    http_t *http = nullptr;
    try {
        http = connectToSpooler(seconds);
    } catch (const RuntimeError &error) {
        listing.error = error.number();
        listing.description = error.description();
        return listing;
    }
    try {
        requireSpoolerAnswer(http, seconds);
    } catch (const RuntimeError &error) {
        httpClose(http);
        listing.error = error.number();
        listing.description = error.description();
        return listing;
    }
    if (cups_dest_t *dest = cupsGetNamedDest(http, nullptr, nullptr)) {
        listing.defaultQueue = QString::fromUtf8(dest->name);
        cupsFreeDests(1, dest);
    }
    listing.queues = queueNames(http);
    if (listing.queues.isEmpty() && spoolerSilent(http)) {
        const RuntimeError error = spoolerNoAnswer(seconds);
        listing.error = error.number();
        listing.description = error.description();
    }
    httpClose(http);
    return listing;
}

QStringList spoolerQueues() {
    http_t *http = connectToSpooler();
    const QStringList names = queueNames(http);
    httpClose(http);
    return names;
}

QString defaultSpoolerQueue() {
    try {
        http_t *http = connectToSpooler();
        QString name;
        if (cups_dest_t *dest = cupsGetNamedDest(http, nullptr, nullptr)) {
            name = QString::fromUtf8(dest->name);
            cupsFreeDests(1, dest);
        }
        httpClose(http);
        return name;
    } catch (const RuntimeError &) {
        return {};
    }
}

const SpoolerLibrary &builtInSpooler() {
    static const SpoolerLibrary library{
        ConnectionLibraryAbi,
        [](const QString &queue) -> std::unique_ptr<PrinterPort> {
            return std::make_unique<SpoolerPort>(queue);
        },
        &listSpoolerQueues,
        &spoolerNoAnswer,
        &spoolerQueues,
        &defaultSpoolerQueue,
    };
    return library;
}

} // namespace krv::comm
