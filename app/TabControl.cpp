#include "TabControl.h"

#include <QApplication>
#include <QShortcut>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

namespace krv::app {

TabControl::TabControl(const QStringList &captions, int tabHeight, QWidget *parent)
    : QWidget(parent), mBar(new QTabBar(this)), mTabHeight(tabHeight) {
    mBar->setObjectName(QStringLiteral("SSTab1_tabs"));
    mBar->setExpanding(true);
    mBar->setDrawBase(false);
    mBar->setFocusPolicy(Qt::StrongFocus);
    for (const QString &caption : captions) {
        mBar->addTab(caption);
        auto *page = new QWidget(this);
        page->setObjectName(QStringLiteral("SSTab1_page%1").arg(mPages.size()));
        mPages.push_back(page);
    }
    mBar->raise(); // the pages cover the strip area too; the strip stays on top
    connect(mBar, &QTabBar::currentChanged, this, &TabControl::setCurrentPage);
    setFocusProxy(mBar);
    setCurrentPage(0);

    // The page keys of every tab widget. As shortcuts they come before the
    // focused control, so a list does not take Ctrl+PageDown as its own.
    const auto pageKeys = [this](const QList<QKeySequence> &keys, int step) {
        auto *shortcut = new QShortcut(this);
        shortcut->setKeys(keys);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, step] { stepPage(step); });
    };
    pageKeys({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, 1);
    pageKeys({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
              QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
             -1);
}

void TabControl::stepPage(int step) {
    const int count = pageCount();
    QWidget *focus = QApplication::focusWidget();
    const bool focusOnPage = focus && page(currentPage())->isAncestorOf(focus);
    setCurrentPage((currentPage() + step + count) % count);
    // The control that had the focus is hidden now; the strip takes it.
    if (focusOnPage)
        mBar->setFocus(Qt::ShortcutFocusReason);
}

QWidget *TabControl::page(int index) const {
    return mPages.at(std::size_t(index));
}

int TabControl::pageCount() const {
    return int(mPages.size());
}

int TabControl::currentPage() const {
    return mBar->currentIndex();
}

void TabControl::setCurrentPage(int index) {
    if (index < 0 || index >= pageCount())
        return;
    mBar->setCurrentIndex(index);
    for (int i = 0; i < pageCount(); ++i)
        mPages[std::size_t(i)]->setVisible(i == index);
}

void TabControl::resizeEvent(QResizeEvent *) {
    mBar->setGeometry(0, 0, width(), mTabHeight);
    for (QWidget *page : mPages)
        page->setGeometry(rect());
}

void TabControl::paintEvent(QPaintEvent *) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, mTabHeight - 1, 0, 0);
    frame.tabBarSize = mBar->size();
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}

} // namespace krv::app
