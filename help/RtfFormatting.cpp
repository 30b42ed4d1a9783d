#include "RtfFormatting.h"

namespace krv::help {
namespace {

// \b, \b1 and \b2 switch on; \b0 switches off.
bool on(const RtfToken &t) {
    return !t.hasParam || t.param != 0;
}

} // namespace

bool applyFormatting(RtfWord w, const RtfToken &t, RtfCharState &c, RtfParaState &p) {
    switch (w) {
    case RtfWord::ParagraphDefaults:
        p = RtfParaState{};
        return true;
    case RtfWord::Bold:
        c.bold = on(t);
        return true;
    case RtfWord::Italic:
        c.italic = on(t);
        return true;
    case RtfWord::Underline:
        c.underline = on(t);
        return true;
    case RtfWord::UnderlineNone:
        c.underline = false;
        return true;
    case RtfWord::Strike:
        c.strike = on(t);
        return true;
    case RtfWord::AlignCentre:
        p.alignment = Qt::AlignHCenter;
        return true;
    case RtfWord::AlignLeft:
        p.alignment = Qt::AlignLeft;
        return true;
    case RtfWord::AlignRight:
        p.alignment = Qt::AlignRight;
        return true;
    case RtfWord::AlignJustify:
        p.alignment = Qt::AlignJustify;
        return true;
    case RtfWord::LeftIndent:
        p.leftTwips = t.param;
        return true;
    case RtfWord::RightIndent:
        p.rightTwips = t.param;
        return true;
    case RtfWord::FirstLineIndent:
        p.firstLineTwips = t.param;
        return true;
    case RtfWord::SpaceBefore:
        p.beforeTwips = t.param;
        return true;
    case RtfWord::SpaceAfter:
        p.afterTwips = t.param;
        return true;
    default:
        return false;
    }
}

} // namespace krv::help
