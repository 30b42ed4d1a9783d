#pragma once

#include <QByteArray>
#include <QDialog>
#include <QStringList>

#include <memory>

class QTextDocument;
class QTextEdit;

namespace krv::help {

// The help window's client area, in twips, fully covered by rtbHelp, and the
// fixed dialog frame around it.
inline constexpr int HelpClientWidthTwips = 4695;
inline constexpr int HelpClientHeightTwips = 3435;
inline constexpr int HelpFrameTwips = 45;

// A fixed-size modal window with a dialog frame of its own, no title bar and
// one read-only rich-text box. The help is a document on its own paper: dark
// on light whatever the desktop's colours. A click on the text or on the
// window hides it; it keeps its content.
class frmHelp : public QDialog {
    Q_OBJECT
public:
    explicit frmHelp(QWidget *owner);
    ~frmHelp() override;

    // Replaces the whole content with the document `rtf` describes.
    void setTextRTF(const QByteArray &rtf);
    // Made the first time it is needed: the window is loaded hidden at
    // start-up, and most sessions never show it.
    [[nodiscard]] QTextEdit *rtbHelp();
    // What the reader found wrong in the current content; empty for the built-in topics.
    [[nodiscard]] const QStringList &contentProblems() const { return mProblems; }

    void setVisible(bool visible) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void Form_Click();
    void rtbHelp_Click();
    void centreOverOwner();

    QTextEdit *mRtbHelp = nullptr;
    std::unique_ptr<QTextDocument> mDocument; // shown by mRtbHelp, which does not own it
    QStringList mProblems;
};

} // namespace krv::help
