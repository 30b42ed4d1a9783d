#pragma once

#include "HelpTopics.h"

#include <QPointer>

#include <cstdint>

class QWidget;

namespace krv::help {

class frmHelp;

// What the main window owns of the help: the sixteen documents, the help
// window and the Help buttons' click handler.
class HelpDesk {
public:
    explicit HelpDesk(QWidget *owner); // owner = the main window
    ~HelpDesk();
    HelpDesk(const HelpDesk &) = delete;
    HelpDesk &operator=(const HelpDesk &) = delete;

    void LoadHelpTopics();
    [[nodiscard]] const HelpTopicArray &HelpTopics() const { return mHelpTopics; }

    void loadHelpWindow();   // creates the help window hidden unless it exists
    void unloadHelpWindow(); // destroys it; no effect when there is none
    [[nodiscard]] frmHelp *helpWindow() const;

    // Shows topic Index modally and returns once the window is hidden again.
    // Throws RuntimeError 9 for an Index outside 0..15 before touching anything.
    void butHelp_Click(std::int16_t Index);

private:
    QWidget *const mOwner;
    HelpTopicArray mHelpTopics;
    QPointer<frmHelp> mHelp; // the owner's destruction may delete it before us
};

} // namespace krv::help
