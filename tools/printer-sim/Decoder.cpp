#include "Decoder.h"

#include <cstdio>
#include <utility>

namespace krv::sim {
namespace {

constexpr unsigned char Esc = 0x1B;
constexpr unsigned char Gs = 0x1D;
constexpr unsigned char Lf = 0x0A;
constexpr unsigned char Cr = 0x0D;
constexpr unsigned char Nul = 0x00;
constexpr unsigned char Dle = 0x10;
constexpr unsigned char Eot = 0x04;

constexpr int TokenSize = 7;
// Text is handed out in runs of at most this many bytes, so that one event
// never holds a whole job.
constexpr qsizetype MaxTextRun = 256;

// Offsets of the token within a switch command: ESC GS token LF NUL.
constexpr int TokenOffset = 2;

int upperHexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isLowerHexLetter(unsigned char c) {
    return c >= 'a' && c <= 'f';
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// These run for every byte a malformed job holds, so they build their text
// in one allocation rather than through QString::arg().
QString upperHex(unsigned value, int width) {
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%0*X", width, value);
    return QString::fromLatin1(text, n);
}

QString byteName(unsigned char c) {
    char text[16];
    const int n = c > 32 && c < 127 ? std::snprintf(text, sizeof text, "0x%02X '%c'", c, c)
                                    : std::snprintf(text, sizeof text, "0x%02X", c);
    return QString::fromLatin1(text, n);
}

QString printable(const QByteArray &bytes) {
    QByteArray out;
    out.reserve(bytes.size() * 4);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 32 && c < 127) {
            out += char(c);
        } else {
            char hex[8];
            out.append(hex, std::snprintf(hex, sizeof hex, "\\x%02X", c));
        }
    }
    return QString::fromLatin1(out);
}

} // namespace

bool parseToken(QByteArrayView token, SwitchToken *out) {
    if (token.size() != TokenSize || token[0] != '#')
        return false;
    const char op = token[1];
    if (op != '+' && op != '-' && op != 'W')
        return false;
    int values[5];
    for (int i = 0; i < 5; ++i) {
        values[i] = upperHexValue(static_cast<unsigned char>(token[2 + i]));
        if (values[i] < 0)
            return false;
    }
    const auto mask =
        static_cast<std::uint16_t>(values[1] << 12 | values[2] << 8 | values[3] << 4 | values[4]);
    if (op == 'W' && (values[0] != 0 || mask != 0))
        return false;
    if (out)
        *out = {op, values[0], mask};
    return true;
}

QString Event::describe() const {
    switch (kind) {
    case Kind::Switch:
        return QStringLiteral("switch command #%1%2%3")
            .arg(QString(QLatin1Char(operation)), upperHex(unsigned(switchNumber), 1),
                 upperHex(mask, 4));
    case Kind::Text:
        return QStringLiteral("text \"%1\"").arg(printable(text));
    case Kind::Reset:
        return QStringLiteral("ESC @ (reset)");
    case Kind::Size:
        return QStringLiteral("ESC i%1%2 (size %3x%4)")
            .arg(width - 1)
            .arg(height - 1)
            .arg(width)
            .arg(height);
    case Kind::BoldOn:
        return QStringLiteral("ESC E (bold on)");
    case Kind::BoldOff:
        return QStringLiteral("ESC F (bold off)");
    case Kind::Feed:
        return QStringLiteral("ESC d%1 (feed %1 lines)").arg(lines);
    case Kind::Return:
        return QStringLiteral("CR");
    case Kind::LineFeed:
        return QStringLiteral("LF");
    case Kind::StatusRequest:
        return QStringLiteral("DLE EOT %1 (status request)").arg(request);
    }
    return {};
}

QString problemKindName(Problem::Kind kind) {
    switch (kind) {
    case Problem::Kind::CutShort:
        return QStringLiteral("command cut short");
    case Problem::Kind::MissingLineFeed:
        return QStringLiteral("missing LF");
    case Problem::Kind::MissingNul:
        return QStringLiteral("missing NUL");
    case Problem::Kind::UnknownOperation:
        return QStringLiteral("unknown operation");
    case Problem::Kind::UnknownSwitch:
        return QStringLiteral("unknown switch");
    case Problem::Kind::LowercaseHex:
        return QStringLiteral("lowercase hex");
    case Problem::Kind::BadToken:
        return QStringLiteral("bad token");
    case Problem::Kind::UnknownCommand:
        return QStringLiteral("unknown command");
    case Problem::Kind::BadArgument:
        return QStringLiteral("bad argument");
    case Problem::Kind::StrayByte:
        return QStringLiteral("stray byte");
    case Problem::Kind::Dropped:
        return QStringLiteral("job ended inside a command");
    }
    return {};
}

QString Problem::describe() const {
    // One allocation: a malformed job has a problem for nearly every byte.
    char number[64];
    QString line;
    line.reserve(96 + detail.size());
    line += QLatin1String(number, std::snprintf(number, sizeof number,
                                                "offset %lld: ", static_cast<long long>(offset)));
    line += problemKindName(kind);
    if (!detail.isEmpty()) {
        line += QLatin1String(": ");
        line += detail;
    }
    if (commandOffset != offset)
        line += QLatin1String(number, std::snprintf(number, sizeof number,
                                                    " (command at offset %lld skipped)",
                                                    static_cast<long long>(commandOffset)));
    return line;
}

void Decoder::feed(QByteArrayView bytes) {
    for (char c : bytes) {
        step(static_cast<unsigned char>(c));
        ++mPosition;
    }
}

void Decoder::finish() {
    if (mState != State::Idle && mState != State::SkipNul) {
        abandon(Problem::Kind::Dropped, mPosition,
                QStringLiteral("%1 byte(s) of the command arrived").arg(mPosition - mCommandStart));
    }
    mState = State::Idle;
    flushText();
}

std::vector<Event> Decoder::takeEvents() {
    return std::exchange(mEvents, {});
}

std::vector<Problem> Decoder::takeProblems() {
    return std::exchange(mProblems, {});
}

void Decoder::addEvent(Event event) {
    event.offset = mCommandStart;
    mEvents.push_back(std::move(event));
    mState = State::Idle;
}

void Decoder::abandon(Problem::Kind kind, qsizetype at, const QString &detail) {
    mProblems.push_back({kind, at, mCommandStart, detail});
    mState = State::Idle;
    mCommand.clear();
}

void Decoder::flushText() {
    if (mText.isEmpty())
        return;
    Event event;
    event.kind = Event::Kind::Text;
    event.offset = mTextStart;
    event.text = std::exchange(mText, {});
    mEvents.push_back(std::move(event));
}

// Each state handles the byte or, when the byte does not belong to the command
// being read, abandons the command and hands the byte to the idle state. The
// idle state always consumes, so a byte is looked at twice at most.
void Decoder::step(unsigned char byte) {
    const qsizetype at = mPosition;
    switch (mState) {
    case State::Idle:
        idle(byte);
        return;
    case State::Escape:
        escape(byte);
        return;
    case State::SwitchToken:
        if (byte == Esc) {
            abandon(
                Problem::Kind::CutShort, at,
                QStringLiteral("token of %1 character(s) followed by ESC").arg(mCommand.size()));
            break;
        }
        if (byte == Lf || byte == Nul) {
            abandon(Problem::Kind::CutShort, at,
                    QStringLiteral("token of %1 character(s) followed by %2")
                        .arg(mCommand.size())
                        .arg(byte == Lf ? QStringLiteral("LF") : QStringLiteral("NUL")));
            // The early terminator closes the bad command's frame.
            if (byte == Lf)
                mState = State::SkipNul;
            return;
        }
        mCommand.append(char(byte));
        if (mCommand.size() == TokenSize)
            mState = State::SwitchLineFeed;
        return;
    case State::SwitchLineFeed:
        if (byte == Lf) {
            mState = State::SwitchNul;
            return;
        }
        abandon(Problem::Kind::MissingLineFeed, at,
                QStringLiteral("token followed by %1").arg(byteName(byte)));
        if (byte == Nul)
            return; // the NUL still closes the frame
        break;
    case State::SwitchNul:
        if (byte == Nul) {
            finishSwitchCommand();
            return;
        }
        abandon(Problem::Kind::MissingNul, at,
                QStringLiteral("LF followed by %1").arg(byteName(byte)));
        break;
    case State::SkipNul:
        mState = State::Idle;
        if (byte == Nul)
            return;
        break;
    case State::SizeArgs:
    case State::FeedArg:
        if (isDigit(byte)) {
            mCommand.append(char(byte));
            const bool size = mState == State::SizeArgs;
            if (size && mCommand.size() < 2)
                return;
            Event event;
            if (size) {
                event.kind = Event::Kind::Size;
                event.width = mCommand[0] - '0' + 1;
                event.height = mCommand[1] - '0' + 1;
            } else {
                event.kind = Event::Kind::Feed;
                event.lines = mCommand[0] - '0';
            }
            addEvent(std::move(event));
            return;
        }
        abandon(byte == Esc ? Problem::Kind::CutShort : Problem::Kind::BadArgument, at,
                QStringLiteral("ESC %1 followed by %2")
                    .arg(QLatin1Char(mState == State::SizeArgs ? 'i' : 'd'))
                    .arg(byteName(byte)));
        break;
    case State::StatusEot:
        if (byte == Eot) {
            mState = State::StatusArg;
            return;
        }
        abandon(Problem::Kind::UnknownCommand, at, QStringLiteral("DLE %1").arg(byteName(byte)));
        break;
    case State::StatusArg:
        if (byte >= 1 && byte <= 4) {
            Event event;
            event.kind = Event::Kind::StatusRequest;
            event.request = byte;
            addEvent(std::move(event));
            return;
        }
        abandon(byte == Esc ? Problem::Kind::CutShort : Problem::Kind::BadArgument, at,
                QStringLiteral("DLE EOT followed by %1").arg(byteName(byte)));
        // The printer takes any other byte as the request's number.
        if (byte != Esc)
            return;
        break;
    }
    idle(byte);
}

void Decoder::idle(unsigned char byte) {
    const qsizetype at = mPosition;
    if (byte >= 32) {
        if (mText.isEmpty())
            mTextStart = at;
        mText.append(char(byte));
        if (mText.size() >= MaxTextRun)
            flushText();
        return;
    }
    flushText();
    mCommandStart = at;
    mCommand.clear();
    Event event;
    switch (byte) {
    case Esc:
        mState = State::Escape;
        return;
    case Dle:
        mState = State::StatusEot;
        return;
    case Cr:
        event.kind = Event::Kind::Return;
        addEvent(std::move(event));
        return;
    case Lf:
        event.kind = Event::Kind::LineFeed;
        addEvent(std::move(event));
        return;
    default:
        abandon(Problem::Kind::StrayByte, at, byteName(byte));
        return;
    }
}

void Decoder::escape(unsigned char byte) {
    const qsizetype at = mPosition;
    Event event;
    switch (byte) {
    case Esc:
        abandon(Problem::Kind::CutShort, at, QStringLiteral("ESC followed by ESC"));
        idle(byte);
        return;
    case Gs:
        mState = State::SwitchToken;
        return;
    case 'i':
        mState = State::SizeArgs;
        return;
    case 'd':
        mState = State::FeedArg;
        return;
    case '@':
        event.kind = Event::Kind::Reset;
        break;
    case 'E':
        event.kind = Event::Kind::BoldOn;
        break;
    case 'F':
        event.kind = Event::Kind::BoldOff;
        break;
    default:
        abandon(Problem::Kind::UnknownCommand, at, QStringLiteral("ESC %1").arg(byteName(byte)));
        return;
    }
    addEvent(std::move(event));
}

void Decoder::finishSwitchCommand() {
    const qsizetype token = mCommandStart + TokenOffset;
    const auto c = [this](int i) { return static_cast<unsigned char>(mCommand[i]); };
    if (c(0) != '#') {
        abandon(Problem::Kind::BadToken, token,
                QStringLiteral("token starts with %1, not '#'").arg(byteName(c(0))));
        return;
    }
    if (c(1) != '+' && c(1) != '-' && c(1) != 'W') {
        abandon(Problem::Kind::UnknownOperation, token + 1, byteName(c(1)));
        return;
    }
    for (int i = 2; i < TokenSize; ++i) {
        if (upperHexValue(c(i)) >= 0)
            continue;
        if (isLowerHexLetter(c(i)))
            abandon(Problem::Kind::LowercaseHex, token + i,
                    QStringLiteral("%1 in %2").arg(byteName(c(i)), i == 2 ? "switch" : "mask"));
        else if (i == 2)
            abandon(Problem::Kind::UnknownSwitch, token + i, byteName(c(i)));
        else
            abandon(Problem::Kind::BadToken, token + i,
                    QStringLiteral("%1 in mask").arg(byteName(c(i))));
        return;
    }
    SwitchToken parsed;
    if (!parseToken(mCommand, &parsed)) {
        // Only a store with operands other than zero gets here.
        abandon(Problem::Kind::UnknownOperation, token + 1,
                QStringLiteral("store with operands %1; only #W00000 stores")
                    .arg(QString::fromLatin1(mCommand.mid(2))));
        return;
    }
    Event event;
    event.kind = Event::Kind::Switch;
    event.operation = parsed.operation;
    event.switchNumber = parsed.switchNumber;
    event.mask = parsed.mask;
    mCommand.clear();
    addEvent(std::move(event));
}

Decoded decode(QByteArrayView job) {
    Decoder decoder;
    decoder.feed(job);
    decoder.finish();
    return {decoder.takeEvents(), decoder.takeProblems()};
}

} // namespace krv::sim
