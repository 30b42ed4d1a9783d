#pragma once

#include <QComboBox>

namespace krv::comm {

// Qt builds a drop-down list's view (a list view, scroll bars, a popup
// frame: about a quarter of a megabyte each, most of it code) as soon as a
// list is made editable or given a size policy, long before anyone opens
// it. These give the lists the same size and behaviour and leave the view
// to be built when the list is first opened.

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
