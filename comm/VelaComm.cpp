#include "VelaComm.h"

#include "CommErrors.h"
#include "RuntimeError.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>

#include <array>

namespace krv::comm {

namespace {

using Kind = ConnectionSettings::Kind;

struct KindEntry {
    Kind kind;
    const char *caption;
};

// Combo order and stacked page order are the same.
constexpr std::array<KindEntry, 3> Kinds{{
    {Kind::Spooler, QT_TRANSLATE_NOOP("VelaComm", "Print spooler")},
    {Kind::Tcp, QT_TRANSLATE_NOOP("VelaComm", "TCP/IP")},
    {Kind::File, QT_TRANSLATE_NOOP("VelaComm", "File or device")},
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

QLabel *buddyLabel(const QString &text, QWidget *buddy, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

VelaComm::VelaComm(QWidget *parent)
    : QWidget(parent), mKind(new QComboBox(this)), mPages(new QStackedWidget(this)),
      mQueue(new QComboBox(this)), mRefresh(new QPushButton(tr("Re&fresh"), this)),
      mHost(new QLineEdit(this)), mPortNumber(new QSpinBox(this)), mPath(new QLineEdit(this)),
      mBrowse(new QPushButton(tr("&Browse..."), this)) {
    mKind->setObjectName(QStringLiteral("cmbKind"));
    mPages->setObjectName(QStringLiteral("pages"));
    mQueue->setObjectName(QStringLiteral("cmbQueue"));
    mRefresh->setObjectName(QStringLiteral("butRefresh"));
    mHost->setObjectName(QStringLiteral("txtHost"));
    mPortNumber->setObjectName(QStringLiteral("spnPort"));
    mPath->setObjectName(QStringLiteral("txtPath"));
    mBrowse->setObjectName(QStringLiteral("butBrowse"));

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
    mKind->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    mKind->setMinimumContentsLength(8);

    auto *spooler = new QWidget(mPages);
    auto *spoolerLayout = pageLayout(spooler);
    mQueue->setPlaceholderText(tr("Default queue"));
    mQueue->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    mQueue->setMinimumContentsLength(6);
    spoolerLayout->addWidget(buddyLabel(tr("&Queue:"), mQueue, spooler), 0, 0);
    spoolerLayout->addWidget(mQueue, 0, 1);
    spoolerLayout->addWidget(mRefresh, 0, 2);
    spoolerLayout->setRowStretch(1, 1);

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

    // Same order as Kinds.
    mPages->addWidget(spooler);
    mPages->addWidget(tcp);
    mPages->addWidget(file);

    connect(mKind, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            mPages->setCurrentIndex(pageOf(Kind(mKind->itemData(index).toInt())));
    });
    connect(mRefresh, &QPushButton::clicked, this, &VelaComm::butRefresh_Click);
    connect(mBrowse, &QPushButton::clicked, this, &VelaComm::butBrowse_Click);

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
    return s;
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
    const QString current = mQueue->currentIndex() >= 0 ? mQueue->currentText() : QString();
    QStringList queues;
    try {
        queues = spoolerQueues();
    } catch (const RuntimeError &error) {
        mQueue->setToolTip(error.description());
        if (report)
            QMessageBox::warning(this, tr("Print spooler"),
                                 tr("Error %1: %2").arg(error.number()).arg(error.description()));
        return;
    }
    mQueue->setToolTip(QString());
    mQueue->clear();
    mQueue->addItems(queues);
    selectQueue(current.isEmpty() ? defaultSpoolerQueue() : current);
}

void VelaComm::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!mQueuesListed)
        refreshQueues(false);
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
