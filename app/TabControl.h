#pragma once

#include <QWidget>

#include <vector>

class QTabBar;

namespace krv::app {

// A tab control whose pages all cover the whole control, so that a page's
// children are placed in the control's (and window's) coordinates, with the
// tab strip along the top. Only the current page is visible; the others keep
// their state.
class TabControl : public QWidget {
    Q_OBJECT
public:
    TabControl(const QStringList &captions, int tabHeight, QWidget *parent);

    [[nodiscard]] QWidget *page(int index) const;
    [[nodiscard]] int pageCount() const;
    [[nodiscard]] int currentPage() const;
    void setCurrentPage(int index);
    [[nodiscard]] QTabBar *tabBar() const { return mBar; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Moves `step` pages on, wrapping round.
    void stepPage(int step);

    QTabBar *const mBar;
    const int mTabHeight;
    std::vector<QWidget *> mPages;
};

} // namespace krv::app
