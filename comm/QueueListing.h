#pragma once

#include <QString>
#include <QStringList>

namespace krv::comm {

// The print spooler's queues, or why they could not be listed.
struct QueueListing {
    QStringList queues;
    QString defaultQueue; // empty when the spooler has none
    int error = 0;        // 0: listed
    QString description;
};

} // namespace krv::comm
