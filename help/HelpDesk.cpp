#include "HelpDesk.h"

#include "RuntimeError.h"
#include "frmHelp.h"

#include <QTextEdit>

namespace krv::help {

HelpDesk::HelpDesk(QWidget *owner) : mOwner(owner) {}

HelpDesk::~HelpDesk() {
    unloadHelpWindow();
}

void HelpDesk::LoadHelpTopics() {
    krv::help::LoadHelpTopics(mHelpTopics);
}

void HelpDesk::loadHelpWindow() {
    if (!mHelp)
        mHelp = new frmHelp(mOwner); // owned by the main window, hidden until a Help click
}

void HelpDesk::unloadHelpWindow() {
    // The window is a child of the main window; deleting it here ends it now
    // rather than with its owner, and QPointer has already cleared if it went first.
    delete mHelp.data();
}

frmHelp *HelpDesk::helpWindow() const {
    return mHelp.data();
}

void HelpDesk::butHelp_Click(std::int16_t Index) {
    if (Index < 0 || Index >= HelpTopicCount)
        throw RuntimeError(errors::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
    loadHelpWindow();
    mHelp->setTextRTF(mHelpTopics[std::size_t(Index)]);
    // A screen reader names the window and its text by the topic.
    const QString topic = helpTopicTitle(Index);
    mHelp->setAccessibleName(topic);
    mHelp->rtbHelp()->setAccessibleName(topic);
    mHelp->exec();
}

} // namespace krv::help
