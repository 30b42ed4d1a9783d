#include "RtfFormatting.h"

namespace krv::help {
namespace {

// \b, \b1 and \b2 switch on; \b0 switches off.
bool on(const RtfToken &t) {
    return !t.hasParam || t.param != 0;
}

} // namespace

bool applyFormatting(const RtfToken &t, RtfCharState &c, RtfParaState &p) {
    const std::string_view w = t.text;
    if (w == "pard")
        p = RtfParaState{};
    else if (w == "b")
        c.bold = on(t);
    else if (w == "i")
        c.italic = on(t);
    else if (w == "ul")
        c.underline = on(t);
    else if (w == "ulnone")
        c.underline = false;
    else if (w == "strike")
        c.strike = on(t);
    else if (w == "qc")
        p.alignment = Qt::AlignHCenter;
    else if (w == "ql")
        p.alignment = Qt::AlignLeft;
    else if (w == "qr")
        p.alignment = Qt::AlignRight;
    else if (w == "qj")
        p.alignment = Qt::AlignJustify;
    else if (w == "li")
        p.leftTwips = t.param;
    else if (w == "ri")
        p.rightTwips = t.param;
    else if (w == "fi")
        p.firstLineTwips = t.param;
    else if (w == "sb")
        p.beforeTwips = t.param;
    else if (w == "sa")
        p.afterTwips = t.param;
    else
        return false;
    return true;
}

} // namespace krv::help
