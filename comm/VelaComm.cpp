#include "VelaComm.h"

#include "CommErrors.h"
#include "ConnectionLibraries.h"
#include "QueueLookup.h"
#include "RuntimeError.h"
#include "UnopenedLists.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QValidator>

#include <algorithm>
#include <array>
#include <utility>

namespace krv::comm {

namespace {

using Kind = ConnectionSettings::Kind;
using Flow = SerialSettings::Flow;

struct KindEntry {
    Kind kind;
    const char *caption;
};

// Combo order and stacked page order are the same.
constexpr std::array<KindEntry, 4> Kinds{{
    {Kind::Spooler, QT_TRANSLATE_NOOP("VelaComm", "Print spooler")},
    {Kind::Tcp, QT_TRANSLATE_NOOP("VelaComm", "TCP/IP")},
    {Kind::File, QT_TRANSLATE_NOOP("VelaComm", "File or device")},
    {Kind::Serial, QT_TRANSLATE_NOOP("VelaComm", "Serial port")},
}};

// Offered in the speed list; any other speed the device takes can be typed.
constexpr std::array<qint32, 8> Speeds{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// Every frame a serial port can be set to, the common ones first.
constexpr std::array<const char *, 12> Frames{"8N1", "8E1", "8O1", "8N2", "8E2", "8O2",
                                              "7E1", "7O1", "7N1", "7E2", "7O2", "7N2"};

struct FlowEntry {
    Flow flow;
    const char *caption;
};
constexpr std::array<FlowEntry, 3> Flows{{
    {Flow::None, QT_TRANSLATE_NOOP("VelaComm", "None")},
    {Flow::RtsCts, QT_TRANSLATE_NOOP("VelaComm", "RTS/CTS")},
    {Flow::XonXoff, QT_TRANSLATE_NOOP("VelaComm", "XON/XOFF")},
}};

int pageOf(Kind kind) {
    for (std::size_t i = 0; i < Kinds.size(); ++i)
        if (Kinds[i].kind == kind)
            return int(i);
    return 0;
}

QGridLayout *pageLayout(QWidget *page) {
    auto *layout = new QGridLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(4);
    layout->setColumnStretch(1, 1);
    return layout;
}

// A speed in bits per second as it is typed: up to nine digits, the first
// not 0. Checked by hand rather than by a regular expression, whose engine
// the window would otherwise load at start-up for this alone.
class SpeedValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int & /*pos*/) const override {
        if (input.isEmpty())
            return Intermediate;
        if (input.size() > 9 || input.front() == QLatin1Char('0'))
            return Invalid;
        for (const QChar c : input)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        return Acceptable;
    }
};

// The caption without its mnemonic marks: a lone '&' goes, "&&" is one '&'.
QString withoutMnemonic(const QString &text) {
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] != QLatin1Char('&') || (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')))
            plain += text[i];
    return plain;
}

QEvent::Type firstFrameShownEvent() {
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

// The field is named by its label too: a screen reader reads a name, not
// every one follows the labelled-by relation a buddy gives.
QLabel *buddyLabel(const QString &text, QWidget *buddy, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    QString name = withoutMnemonic(text);
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    buddy->setAccessibleName(name);
    return label;
}

} // namespace

VelaComm::VelaComm(QWidget *parent)
    : QWidget(parent), mKind(new ContentsLengthComboBox(8, this)), mPages(new QStackedWidget(this)),
      mQueue(new ContentsLengthComboBox(6, this)), mRefresh(new QPushButton(tr("Re&fresh"), this)),
      mHost(new QLineEdit(this)), mPortNumber(new QSpinBox(this)), mPath(new QLineEdit(this)),
      mBrowse(new QPushButton(tr("&Browse..."), this)), mQueueStatus(new QLabel(this)),
      mDevice(new ContentsLengthComboBox(6, this)),
      mRefreshPorts(new QPushButton(tr("Re&fresh"), this)),
      mSpeed(new ContentsLengthComboBox(5, this)), mFrame(new QComboBox(this)),
      mFlow(new QComboBox(this)), mLookup(new QueueLookup(this)) {
    mKind->setObjectName(QStringLiteral("cmbKind"));
    mPages->setObjectName(QStringLiteral("pages"));
    mQueue->setObjectName(QStringLiteral("cmbQueue"));
    mRefresh->setObjectName(QStringLiteral("butRefresh"));
    mHost->setObjectName(QStringLiteral("txtHost"));
    mPortNumber->setObjectName(QStringLiteral("spnPort"));
    mPath->setObjectName(QStringLiteral("txtPath"));
    mBrowse->setObjectName(QStringLiteral("butBrowse"));
    mQueueStatus->setObjectName(QStringLiteral("labQueueStatus"));
    mDevice->setObjectName(QStringLiteral("cmbSerialDevice"));
    mRefreshPorts->setObjectName(QStringLiteral("butRefreshPorts"));
    mSpeed->setObjectName(QStringLiteral("cmbSerialSpeed"));
    mFrame->setObjectName(QStringLiteral("cmbSerialFrame"));
    mFlow->setObjectName(QStringLiteral("cmbSerialFlow"));

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(4);
    layout->addWidget(buddyLabel(tr("Co&nnection:"), mKind, this), 0, 0);
    layout->addWidget(mKind, 0, 1);
    layout->addWidget(mPages, 1, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(2, 1);

    for (const KindEntry &entry : Kinds)
        mKind->addItem(tr(entry.caption), int(entry.kind));

    auto *spooler = new QWidget(mPages);
    auto *spoolerLayout = pageLayout(spooler);
    mQueue->setPlaceholderText(tr("Default queue"));
    spoolerLayout->addWidget(buddyLabel(tr("&Queue:"), mQueue, spooler), 0, 0);
    spoolerLayout->addWidget(mQueue, 0, 1);
    spoolerLayout->addWidget(mRefresh, 0, 2);
    // What the queue list is doing, under it: looking, or why it is not listed.
    mQueueStatus->setWordWrap(true);
    mQueueStatus->setForegroundRole(QPalette::PlaceholderText);
    spoolerLayout->addWidget(mQueueStatus, 1, 0, 1, 3);
    spoolerLayout->setRowStretch(2, 1);

    auto *tcp = new QWidget(mPages);
    auto *tcpLayout = pageLayout(tcp);
    mHost->setPlaceholderText(tr("Printer name or address"));
    mPortNumber->setRange(1, 65535);
    mPortNumber->setValue(9100);
    tcpLayout->addWidget(buddyLabel(tr("H&ost:"), mHost, tcp), 0, 0);
    tcpLayout->addWidget(mHost, 0, 1, 1, 2);
    tcpLayout->addWidget(buddyLabel(tr("Po&rt:"), mPortNumber, tcp), 1, 0);
    tcpLayout->addWidget(mPortNumber, 1, 1);
    tcpLayout->setColumnStretch(2, 1);
    tcpLayout->setRowStretch(2, 1);

    auto *file = new QWidget(mPages);
    auto *fileLayout = pageLayout(file);
    mPath->setPlaceholderText(tr("e.g. /dev/usb/lp0"));
    fileLayout->addWidget(buddyLabel(tr("Pat&h:"), mPath, file), 0, 0);
    fileLayout->addWidget(mPath, 0, 1);
    fileLayout->addWidget(mBrowse, 0, 2);
    fileLayout->setRowStretch(1, 1);

    auto *serial = new QWidget(mPages);
    auto *serialLayout = pageLayout(serial);
    // Typed paths such as /dev/rfcomm0 are as good as the listed ports.
    makeEditable(mDevice);
    mDevice->setInsertPolicy(QComboBox::NoInsert);
    mDevice->lineEdit()->setPlaceholderText(tr("e.g. /dev/ttyUSB0"));
    makeEditable(mSpeed);
    mSpeed->setInsertPolicy(QComboBox::NoInsert);
    mSpeed->setValidator(new SpeedValidator(mSpeed));
    for (const qint32 speed : Speeds)
        mSpeed->addItem(QString::number(speed));
    for (const char *frame : Frames)
        mFrame->addItem(QString::fromLatin1(frame));
    for (const FlowEntry &entry : Flows)
        mFlow->addItem(tr(entry.caption), int(entry.flow));
    // The panel has room for two rows under the choice of connection: the
    // device, then the line's settings, which technicians recognise by their
    // values ("9600", "8N1", "XON/XOFF") and the tool tips name.
    mSpeed->setToolTip(tr("Speed in bits per second"));
    mFrame->setToolTip(tr("Frame: data bits, parity (None, Even, Odd), stop bits"));
    mFlow->setToolTip(tr("Flow control"));
    mSpeed->setAccessibleName(tr("Speed"));
    mRefreshPorts->setAccessibleName(tr("Refresh serial ports"));
    mRefresh->setAccessibleName(tr("Refresh queues"));
    mFrame->setAccessibleName(tr("Frame"));
    mFlow->setAccessibleName(tr("Flow control"));
    serialLayout->addWidget(buddyLabel(tr("&Device:"), mDevice, serial), 0, 0);
    serialLayout->addWidget(mDevice, 0, 1, 1, 3);
    serialLayout->addWidget(mRefreshPorts, 0, 4);
    auto *line = new QHBoxLayout;
    line->setSpacing(4);
    line->addWidget(mSpeed, 1);
    line->addWidget(mFrame);
    line->addWidget(mFlow);
    serialLayout->addLayout(line, 1, 0, 1, 5);
    serialLayout->setRowStretch(2, 1);
    setSerialFields(SerialSettings{});

    // Same order as Kinds.
    mPages->addWidget(spooler);
    mPages->addWidget(tcp);
    mPages->addWidget(file);
    mPages->addWidget(serial);

    connect(mKind, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            mPages->setCurrentIndex(pageOf(Kind(mKind->itemData(index).toInt())));
        fillShownPage();
    });
    connect(mRefresh, &QPushButton::clicked, this, &VelaComm::butRefresh_Click);
    connect(mBrowse, &QPushButton::clicked, this, &VelaComm::butBrowse_Click);
    connect(mLookup, &QueueLookup::finished, this, &VelaComm::queuesListed);
    connect(mKind, &QComboBox::currentIndexChanged, this, &VelaComm::noteChange);
    connect(mQueue, &QComboBox::currentIndexChanged, this, &VelaComm::noteChange);
    connect(mHost, &QLineEdit::textChanged, this, &VelaComm::noteChange);
    connect(mPortNumber, &QSpinBox::valueChanged, this, &VelaComm::noteChange);
    connect(mPath, &QLineEdit::textChanged, this, &VelaComm::noteChange);
    connect(mRefreshPorts, &QPushButton::clicked, this, &VelaComm::refreshSerialPorts);
    connect(mDevice, &QComboBox::currentTextChanged, this, &VelaComm::noteChange);
    connect(mSpeed, &QComboBox::currentTextChanged, this, &VelaComm::noteChange);
    // On leaving the field even when it was left empty, which editingFinished
    // does not report.
    mSpeed->installEventFilter(this);
    connect(mFrame, &QComboBox::currentIndexChanged, this, &VelaComm::noteChange);
    connect(mFlow, &QComboBox::currentIndexChanged, this, &VelaComm::noteChange);
    mLastSettings = settings();

    // The window's tab order reaches the panel as one stop that leads into
    // its own controls, starting with the choice of connection.
    setFocusPolicy(Qt::TabFocus);
    setFocusProxy(mKind);
    setTabOrder(mKind, mQueue);
    setTabOrder(mQueue, mRefresh);
    setTabOrder(mRefresh, mHost);
    setTabOrder(mHost, mPortNumber);
    setTabOrder(mPortNumber, mPath);
    setTabOrder(mPath, mBrowse);
    setTabOrder(mBrowse, mDevice);
    setTabOrder(mDevice, mRefreshPorts);
    setTabOrder(mRefreshPorts, mSpeed);
    setTabOrder(mSpeed, mFrame);
    setTabOrder(mFrame, mFlow);
}

VelaComm::~VelaComm() = default;

void VelaComm::setShowSpooler(bool show) {
    setShown(Kind::Spooler, show);
}

void VelaComm::setShowTcpip(bool show) {
    setShown(Kind::Tcp, show);
}

void VelaComm::setShowFile(bool show) {
    setShown(Kind::File, show);
}

void VelaComm::setShowSerial(bool show) {
    setShown(Kind::Serial, show);
}

void VelaComm::setShown(Kind kind, bool show) {
    const int existing = mKind->findData(int(kind));
    if (show == (existing >= 0))
        return;
    const Kind current = settings().kind;
    if (!show) {
        mKind->removeItem(existing);
        if (mKind->count() == 0)
            mHiddenKind = kind;
        mKind->setEnabled(mKind->count() > 0);
        return;
    }
    // Keep the combo in the fixed order of the kinds.
    int row = 0;
    for (const KindEntry &entry : Kinds) {
        if (entry.kind == kind)
            break;
        if (mKind->findData(int(entry.kind)) >= 0)
            ++row;
    }
    mKind->insertItem(row, tr(Kinds[std::size_t(pageOf(kind))].caption), int(kind));
    mKind->setEnabled(true);
    const int keep = mKind->findData(int(current));
    mKind->setCurrentIndex(keep >= 0 ? keep : row);
}

ConnectionSettings VelaComm::settings() const {
    ConnectionSettings s;
    s.kind = mKind->currentIndex() >= 0 ? Kind(mKind->currentData().toInt()) : mHiddenKind;
    s.queue = mQueue->currentIndex() >= 0 ? mQueue->currentText() : QString();
    s.host = mHost->text().trimmed();
    s.port = quint16(mPortNumber->value());
    s.path = mPath->text();
    s.serial.device = mDevice->currentText().trimmed();
    // While the speed is being typed (or was emptied) the default stands in;
    // leaving the field shows it.
    bool ok = false;
    const int speed = mSpeed->currentText().toInt(&ok);
    if (ok && speed > 0)
        s.serial.speed = speed;
    (void)parseFrame(mFrame->currentText(), s.serial);
    s.serial.flow = Flow(mFlow->currentData().toInt());
    return s;
}

void VelaComm::setSerialFields(const SerialSettings &serial) {
    mDevice->setCurrentText(serial.device);
    mSpeed->setCurrentText(QString::number(serial.speed));
    // The list holds every frame the store can give, so one is always found.
    mFrame->setCurrentIndex(std::max(0, mFrame->findText(frameText(serial))));
    mFlow->setCurrentIndex(std::max(0, mFlow->findData(int(serial.flow))));
}

void VelaComm::refreshSerialPorts() {
    mSerialPortsListed = true;
    const QString typed = mDevice->currentText();
    QStringList devices;
    mDevice->setToolTip(QString());
    try {
        devices = serialLibrary().availablePorts();
    } catch (const RuntimeError &error) {
        mDevice->setToolTip(error.description());
    }
    const QSignalBlocker quiet(mDevice);
    mDevice->clear();
    mDevice->addItems(devices);
    mDevice->setCurrentText(typed);
}

bool VelaComm::eventFilter(QObject *watched, QEvent *event) {
    if (watched == mSpeed && event->type() == QEvent::FocusOut)
        txtSpeed_LostFocus();
    // The window is painted first in a frame; an event posted now at low
    // priority comes once the whole frame is out and after whatever else is
    // already waiting (a close, say).
    if (!mFirstFrameShown && watched == window() && event->type() == QEvent::Paint) {
        window()->removeEventFilter(this);
        QCoreApplication::postEvent(this, new QEvent(firstFrameShownEvent()), Qt::LowEventPriority);
    }
    return QWidget::eventFilter(watched, event);
}

// The spooler's queues and the serial lines are listed the first time their
// page is on the screen, and not before the window's first frame: neither
// list is needed to show the window, and each needs its connection's
// library.
void VelaComm::fillShownPage() {
    if (!mFirstFrameShown || !isVisible())
        return;
    const Kind kind = settings().kind;
    if (kind == Kind::Spooler && !mQueuesListed)
        refreshQueues(false);
    else if (kind == Kind::Serial && !mSerialPortsListed)
        refreshSerialPorts();
}

void VelaComm::txtSpeed_LostFocus() {
    mSpeed->setCurrentText(QString::number(settings().serial.speed));
}

void VelaComm::setSettings(const ConnectionSettings &s) {
    // A kind switched off at design time cannot be chosen; the first one
    // offered takes its place.
    const int kind = mKind->findData(int(s.kind));
    if (kind >= 0)
        mKind->setCurrentIndex(kind);
    else if (mKind->count() > 0)
        mKind->setCurrentIndex(0);
    else
        mHiddenKind = s.kind;
    selectQueue(s.queue);
    mHost->setText(s.host);
    mPortNumber->setValue(s.port);
    mPath->setText(s.path);
    setSerialFields(s.serial);
}

void VelaComm::selectQueue(const QString &queue) {
    if (queue.isEmpty()) {
        mQueue->setCurrentIndex(-1);
        return;
    }
    // A stored queue stays visible even when the spooler does not list it
    // now; sending to it then reports that it is missing.
    if (mQueue->findText(queue) < 0)
        mQueue->addItem(queue);
    mQueue->setCurrentIndex(mQueue->findText(queue));
}

void VelaComm::refreshQueues(bool report) {
    mQueuesListed = true;
    mReportLookup = mReportLookup || report;
    if (mLookup->pending())
        return;
    mQueueStatus->setText(tr("Looking for print queues..."));
    mLookup->start();
}

bool VelaComm::lookingForQueues() const {
    return mLookup->pending();
}

void VelaComm::queuesListed(const QueueListing &listing) {
    const bool report = std::exchange(mReportLookup, false);
    if (listing.error != 0) {
        mQueue->setToolTip(listing.description);
        mQueueStatus->setText(tr("Queues not listed (error %1).").arg(listing.error));
        if (report)
            emit errorRaised(RuntimeError(listing.error, listing.description));
        return;
    }
    // The choice made meanwhile, or the stored one, stays.
    const QString current = mQueue->currentIndex() >= 0 ? mQueue->currentText() : QString();
    mQueue->setToolTip(QString());
    mQueueStatus->clear();
    {
        const QSignalBlocker quiet(mQueue);
        mQueue->clear();
        mQueue->addItems(listing.queues);
        selectQueue(current.isEmpty() ? listing.defaultQueue : current);
    }
    noteChange();
}

void VelaComm::noteChange() {
    const ConnectionSettings now = settings();
    if (now == mLastSettings)
        return;
    mLastSettings = now;
    emit connectionChanged();
}

bool VelaComm::event(QEvent *event) {
    if (event->type() != firstFrameShownEvent())
        return QWidget::event(event);
    mFirstFrameShown = true;
    fillShownPage();
    return true;
}

void VelaComm::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!mFirstFrameShown)
        window()->installEventFilter(this);
    fillShownPage();
}

void VelaComm::butRefresh_Click() {
    refreshQueues(true);
}

void VelaComm::butBrowse_Click() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Print to file or device"), mPath->text(), QString(),
                                     nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        mPath->setText(path);
}

void VelaComm::OpenPort() {
    mPort.reset();
    auto port = makePort(settings());
    port->OpenPort();
    mPort = std::move(port);
}

void VelaComm::SendData(const QByteArray &data) {
    if (!mPort)
        throw RuntimeError(errors::NotOpen, tr("The printer connection is not open."));
    mPort->SendData(data);
}

void VelaComm::ClosePort() {
    if (!mPort)
        return;
    const std::unique_ptr<PrinterPort> port = std::move(mPort);
    port->ClosePort();
}

void VelaComm::ReadConfig(const QString &key) {
    setSettings(readConnectionSettings(key));
    emit configRead(key);
}

void VelaComm::WriteConfig(const QString &key) {
    writeConnectionSettings(key, settings());
    emit configWritten(key);
}

} // namespace krv::comm
