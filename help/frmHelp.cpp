#include "frmHelp.h"

#include "RtfReader.h"
#include "Twips.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTextEdit>
#include <qdrawutil.h>

namespace krv::help {

frmHelp::frmHelp(QWidget *owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QString());
    setModal(true);
    setSizeGripEnabled(false);
    const QSize client = toPixels(HelpClientWidthTwips, HelpClientHeightTwips);
    const int frame = twipsToPixels(HelpFrameTwips);
    setFixedSize(client + QSize(2 * frame, 2 * frame));
}

QTextEdit *frmHelp::rtbHelp() {
    if (mRtbHelp)
        return mRtbHelp;
    const QSize client = toPixels(HelpClientWidthTwips, HelpClientHeightTwips);
    const int frame = twipsToPixels(HelpFrameTwips);
    mRtbHelp = new QTextEdit(this);
    mRtbHelp->setObjectName(QStringLiteral("rtbHelp"));
    mRtbHelp->setReadOnly(true);
    mRtbHelp->setFrameShape(QFrame::NoFrame);
    mRtbHelp->setGeometry(QRect(QPoint(frame, frame), client));
    // The topics' colours are chosen for white paper; the box's own sheet
    // outranks a dark palette and an application style sheet alike.
    mRtbHelp->setStyleSheet(
        QStringLiteral("QTextEdit#rtbHelp, QTextEdit#rtbHelp > QWidget#qt_scrollarea_viewport"
                       " { background: white; color: black; }"));
    mRtbHelp->viewport()->installEventFilter(this);
    return mRtbHelp;
}

frmHelp::~frmHelp() {
    // The box must stop referring to our document before the document goes.
    if (mRtbHelp)
        mRtbHelp->setDocument(nullptr);
}

void frmHelp::setTextRTF(const QByteArray &rtf) {
    RtfResult result = readRtf(rtf);
    mProblems = std::move(result.problems);
    rtbHelp()->setDocument(result.document.get());
    mDocument = std::move(result.document); // the previous document is released only now
}

void frmHelp::setVisible(bool visible) {
    if (visible && !isVisible())
        centreOverOwner();
    QDialog::setVisible(visible);
}

// The box never sees the left button, so a click starts no selection that
// would still be pending the next time the window shows.
bool frmHelp::eventFilter(QObject *watched, QEvent *event) {
    if (!mRtbHelp || watched != mRtbHelp->viewport())
        return QDialog::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return false;
    if (static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
        return false;
    if (type == QEvent::MouseButtonRelease)
        rtbHelp_Click();
    return true;
}

void frmHelp::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton)
        Form_Click();
    QDialog::mouseReleaseEvent(event);
}

// Hiding ends the modal loop of exec(); the window stays loaded with its content.
void frmHelp::Form_Click() {
    hide();
}

void frmHelp::rtbHelp_Click() {
    hide();
}

// A raised dialog frame, filled with the face colour up to the box.
void frmHelp::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), false, &palette().button());
}

void frmHelp::centreOverOwner() {
    const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner)
        return;
    move(owner->frameGeometry().center() - rect().center());
}

} // namespace krv::help
