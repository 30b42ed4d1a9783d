#include "Job.h"

#include "MemorySwitches.h"

#include <utility>

namespace krv::sim {

Job::Job(MemorySwitches &switches, QString statePath, LineSink sink)
    : mSwitches(switches), mStatePath(std::move(statePath)), mSink(std::move(sink)) {
    for (int n = 0; n < 16; ++n)
        mStoredAtStart[std::size_t(n)] = switches.stored(n);
}

void Job::feed(QByteArrayView bytes) {
    mDecoder.feed(bytes);
    drain();
}

void Job::finish() {
    mDecoder.finish();
    drain();
    if (mSwitches.hasUnstoredChanges())
        mSink(QStringLiteral("switch changes received but not stored (no #W00000 yet)"));
}

QImage Job::receipt() {
    return mRenderer ? mRenderer->finish() : QImage();
}

QString Job::summary() const {
    return QStringLiteral("%1 bytes, %2 switch command(s), %3 problem(s)")
        .arg(bytes())
        .arg(mSwitchCommands)
        .arg(mProblems);
}

// Problems and events are reported in the order of their offsets, so that the
// log reads like the job.
void Job::drain() {
    const std::vector<Event> events = mDecoder.takeEvents();
    const std::vector<Problem> problems = mDecoder.takeProblems();
    auto e = events.begin();
    auto p = problems.begin();
    while (e != events.end() || p != problems.end()) {
        if (p != problems.end() && (e == events.end() || p->commandOffset < e->offset)) {
            ++mProblems;
            mSink(QStringLiteral("problem at ") + p->describe());
            ++p;
        } else {
            handle(*e);
            ++e;
        }
    }
}

void Job::handle(const Event &event) {
    mSink(
        QStringLiteral("%1: %2").arg(event.offset, 4, 10, QLatin1Char('0')).arg(event.describe()));
    // Answered by the connection as the bytes arrive; nothing to print.
    if (event.kind == Event::Kind::StatusRequest)
        return;
    if (event.kind != Event::Kind::Switch) {
        // What cannot be drawn as the switches ask is said once, when the
        // job starts printing.
        if (!mRenderer) {
            mRenderer.emplace(PrintSettings::fromValues(mStoredAtStart));
            for (const QString &note : mRenderer->settings().notes)
                mSink(note);
            if (const int missing = mRenderer->charactersWithoutGlyph())
                mSink(QStringLiteral("code page %1: %2 character(s) have no glyph in the "
                                     "simulator's fonts and are drawn as hollow boxes")
                          .arg(mRenderer->settings().codePage)
                          .arg(missing));
        }
        mPrintable = true;
        mRenderer->apply(event);
        return;
    }
    ++mSwitchCommands;
    const std::vector<SwitchChange> changes = mSwitches.apply(event);
    if (event.operation != 'W')
        return;
    mStored = true;
    if (changes.empty())
        mSink(QStringLiteral("stored: no switch changed"));
    for (const SwitchChange &change : changes) {
        for (const QString &line : describeChange(change))
            mSink(line);
    }
    if (mStatePath.isEmpty())
        return;
    QString error;
    if (!mSwitches.save(mStatePath, &error))
        mSink(QStringLiteral("cannot keep the stored switches: ") + error);
}

} // namespace krv::sim
