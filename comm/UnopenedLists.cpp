#include "UnopenedLists.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <cmath>

namespace krv::comm {

ContentsLengthComboBox::ContentsLengthComboBox(int minimumContentsLength, QWidget *parent)
    : QComboBox(parent) {
    setMinimumContentsLength(minimumContentsLength);
}

// Qt's own computation for that policy: the text width of as many 'X' as the
// minimum contents length plus an icon, at least the placeholder's width,
// one line of text or the icon high, and the style's frame and button.
QSize ContentsLengthComboBox::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const QSize icon = iconSize();
    // Qt starts from an invalid width, which the style's margins then add to.
    QSize hint(-1, std::max(int(std::ceil(QFontMetricsF(metrics).height())), 14) + 2);
    if (minimumContentsLength() > 0)
        hint.setWidth(minimumContentsLength() * metrics.horizontalAdvance(QLatin1Char('X')) +
                      icon.width() + 4);
    if (!placeholderText().isEmpty())
        hint.setWidth(std::max(hint.width(), metrics.boundingRect(placeholderText()).width()));
    hint.setHeight(std::max(hint.height(), icon.height() + 2));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, hint, this);
}

QSize ContentsLengthComboBox::minimumSizeHint() const {
    return sizeHint();
}

void makeEditable(QComboBox *list) {
    if (list->isEditable())
        return;
    auto *edit = new QLineEdit(list);
    edit->setPalette(list->palette());
    list->setLineEdit(edit);
    if (!list->testAttribute(Qt::WA_Resized))
        list->adjustSize();
}

} // namespace krv::comm
