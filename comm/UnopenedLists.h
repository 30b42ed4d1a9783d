#pragma once

#include <QComboBox>

namespace krv::comm {

// Qt builds a drop-down list's view (a list view, scroll bars, a popup
// frame) as soon as a list is made editable or given a size policy, long
// before anyone opens it; the panel's four such lists cost the window half
// a megabyte at start-up, most of it item-view code. These give the lists
// the same size and behaviour and leave the view to be built when the list
// is first opened.

// Sized as QComboBox::AdjustToMinimumContentsLengthWithIcon sizes a list:
// by its minimum contents length and room for an icon, whatever its entries.
class ContentsLengthComboBox : public QComboBox {
public:
    ContentsLengthComboBox(int minimumContentsLength, QWidget *parent);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;
};

// What QComboBox::setEditable(true) does, less building the view.
void makeEditable(QComboBox *list);

} // namespace krv::comm
