#include "frmMain.h"

#include "AccessibleNames.h"
#include "ErrorReport.h"
#include "Fonts.h"
#include "Icons.h"
#include "JobConfirmation.h"
#include "JobProgress.h"
#include "Layout.h"
#include "ProductInfo.h"
#include "ScaledLogo.h"
#include "TabControl.h"
#include "WindowHints.h"

#include "HelpDesk.h"
#include "Profile.h"
#include "ProfileFolder.h"
#include "SendJob.h"
#include "TestPage.h"
#include "VelaComm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace krv::app {
namespace {

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString arrayName(const char *name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

const QString ProfileSuffix = QStringLiteral("krv520-profile");

// The one local file a drag carries, or nothing.
QString droppedFile(const QMimeData *data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().front().isLocalFile())
        return {};
    return data->urls().front().toLocalFile();
}

// Qt's own dialog: the same on every desktop, and one a keyboard or a test
// drives the same way.
QString askProfilePath(QWidget *parent, QFileDialog::AcceptMode mode) {
    const bool saving = mode == QFileDialog::AcceptSave;
    QFileDialog dialog(
        parent, saving ? QStringLiteral("Save Profile") : QStringLiteral("Open Profile"),
        krv::profile::lastProfileFolder(),
        QStringLiteral("KRV520 profiles (*.%1 *.profile);;All files (*)").arg(ProfileSuffix));
    dialog.setObjectName(saving ? QStringLiteral("saveProfileDialog")
                                : QStringLiteral("openProfileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (saving)
        dialog.setDefaultSuffix(ProfileSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

// The folder is only where the next dialog starts: one that cannot be noted
// costs the operator a click, not an error box after a good open or save.
void rememberFolder(const QString &path) {
    try {
        krv::profile::rememberProfileFolder(path);
    } catch (const krv::RuntimeError &) {
    }
}

// The window has its font before its first control measures any text (the
// tab strip measures its captions as the tabs are added), so no other font
// is ever loaded.
QWidget *withDialogFont(QWidget *window) {
    installFontSubstitutes();
    window->setFont(dialogFont());
    return window;
}

// A list given the very font it already shows is still sent a font change,
// on which QComboBox builds its drop-down list (a view, scroll bars and the
// layout of every entry) long before anyone opens it. With nothing changed
// there is nothing to redo, so the change goes no further.
class UnchangedFont : public QObject {
protected:
    bool eventFilter(QObject * /*watched*/, QEvent *event) override {
        return event->type() == QEvent::FontChange;
    }
};

} // namespace

frmMain::frmMain(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      mSSTab1(new TabControl(
          {QStringLiteral("Printer"), QStringLiteral("General"), QStringLiteral("Characters")},
          twipsToPixels(layout::TabHeight), withDialogFont(this))),
      mStoreTimer(new QTimer(this)), mHelp(std::make_unique<help::HelpDesk>(this)) {
    setObjectName(QStringLiteral("frmMain"));
    installAccessibleListNames();
    setWindowTitle(QString::fromLatin1(ProductName));
    setWindowIcon(applicationIcon());
    setFixedSize(toPixels(layout::ClientWidth, layout::ClientHeight));
    new WindowHints(this);

    mSSTab1->setObjectName(QStringLiteral("SSTab1"));
    mSSTab1->setGeometry(toPixels(layout::SSTab1));
    mSSTab1->tabBar()->setFont(dialogFont());

    createPrinterPage();
    createSettingRows();
    setTabOrder();
    pinFonts();
    createProfileActions();

    // The connection is stored once the operator has stopped changing it,
    // so a crash, a kill or the end of the session loses none of it.
    mStoreTimer->setSingleShot(true);
    mStoreTimer->setInterval(StoreDelayMs);
    connect(mStoreTimer, &QTimer::timeout, this, &frmMain::storeConnection);
    // A session that ends does not wait for the pause.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        if (mStoreTimer->isActive()) {
            mStoreTimer->stop();
            storeConnection();
        }
    });
}

frmMain::~frmMain() = default;

void frmMain::createPrinterPage() {
    QWidget *page = mSSTab1->page(0);

    labTitle = new QLabel(QString::fromLatin1(ProductName), page);
    labTitle->setObjectName(QStringLiteral("labTitle"));
    labTitle->setFont(msSansSerif(18, true));
    labTitle->setGeometry(toPixels(layout::labTitle));
    labTitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    labVersion = new QLabel(QStringLiteral("Version 1.00"), page);
    labVersion->setObjectName(QStringLiteral("labVersion"));
    labVersion->setFont(msSansSerif(8.25, true));
    labVersion->setGeometry(toPixels(layout::labVersion));
    labVersion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette red = labVersion->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    labVersion->setPalette(red);

    mVelaComm1 = new comm::VelaComm(page);
    mVelaComm1->setObjectName(QStringLiteral("VelaComm1"));
    mVelaComm1->setShowSpooler(true);
    mVelaComm1->setShowTcpip(true);
    mVelaComm1->setShowFile(true);
    mVelaComm1->setShowSerial(true);
    mVelaComm1->setGeometry(toPixels(layout::VelaComm1));
    // The panel's failures get the same report as the buttons'.
    connect(mVelaComm1, &comm::VelaComm::errorRaised, this,
            [this](const RuntimeError &error) { showRuntimeError(this, error); });

    labJobResult = new QLabel(page);
    labJobResult->setObjectName(QStringLiteral("labJobResult"));
    labJobResult->setGeometry(toPixels(layout::labJobResult));
    labJobResult->setTextFormat(Qt::PlainText); // paths and host names as typed
    labJobResult->setWordWrap(true);
    labJobResult->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A confirmation speaks of the connection it went to.
    connect(mVelaComm1, &comm::VelaComm::connectionChanged, this,
            [this] { announce(labJobResult, QString()); });

    Image1 = new ScaledLogo(page);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(toPixels(layout::Image1));

    const auto makeButton = [page](const char *name, const char *caption, const TwipsRect &place) {
        auto *button = new QPushButton(QString::fromLatin1(caption), page);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(toPixels(place));
        button->setAutoDefault(false);
        return button;
    };
    butTestPrint = makeButton("butTestPrint", "Test Print", layout::butTestPrint);
    butDownload = makeButton("butDownload", "Download Settings", layout::butDownload);
    butClose = makeButton("butClose", "Close", layout::butClose);

    connect(butTestPrint, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { butTestPrint_Click(); }); });
    connect(butDownload, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { butDownload_Click(); }); });
    connect(butClose, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { butClose_Click(); }); });
}

// One row per catalogue setting, in the catalogue's order, which is each
// page's top-to-bottom order.
void frmMain::createSettingRows() {
    std::array<int, 2> rowsUsed{};
    for (std::size_t i = 0; i < settings::SettingCount; ++i) {
        const settings::Setting &setting = settings::catalogue()[i];
        const int pageIndex = setting.page == settings::Page::General ? 1 : 2;
        const int row = ++rowsUsed[std::size_t(pageIndex - 1)];
        QWidget *page = mSSTab1->page(pageIndex);

        // The label array is numbered by the Help button beside it, less one;
        // the form-feed row's label stands alone.
        auto *label = new QLabel(latin1(setting.caption), page);
        label->setObjectName(setting.helpTopic == 0 ? QStringLiteral("Label7")
                                                    : arrayName("Label8", setting.helpTopic - 1));
        label->setFont(msSansSerif(9.75, true));
        label->setGeometry(toPixels(layout::rowLabel(row)));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

        auto *list = new QComboBox(page);
        list->setObjectName(latin1(setting.comboName));
        list->setEditable(false);
        list->setMaxVisibleItems(16);
        for (const settings::Entry &entry : setting.entries)
            list->addItem(latin1(entry.text));
        list->setGeometry(toPixels(layout::rowList(row)));
        label->setBuddy(list);
        list->setAccessibleName(latin1(setting.caption).chopped(1));
        mLists[i] = list;

        auto *help = new QPushButton(QStringLiteral("Help"), page);
        help->setObjectName(arrayName("butHelp", setting.helpTopic));
        help->setGeometry(toPixels(layout::rowHelp(row)));
        help->setAutoDefault(false);
        help->setAccessibleName(
            QStringLiteral("Help on %1").arg(latin1(setting.caption).chopped(1)));
        const auto Index = std::int16_t(setting.helpTopic);
        connect(help, &QPushButton::clicked, this,
                [this, Index] { runGuarded(this, [this, Index] { butHelp_Click(Index); }); });
        butHelp[std::size_t(setting.helpTopic)] = help;
    }
}

// Focus follows the designed tab order; Qt skips controls on hidden pages.
void frmMain::setTabOrder() {
    std::vector<std::pair<int, QWidget *>> order{
        {layout::TabIndexSSTab1, mSSTab1->tabBar()}, {layout::TabIndexTestPrint, butTestPrint},
        {layout::TabIndexDownload, butDownload},     {layout::TabIndexClose, butClose},
        {layout::TabIndexVelaComm1, mVelaComm1},
    };
    for (std::size_t i = 0; i < settings::SettingCount; ++i) {
        const layout::RowTabOrder &tab = layout::SettingTabOrder[i];
        order.emplace_back(tab.list, mLists[i]);
        order.emplace_back(tab.help, butHelp[std::size_t(settings::catalogue()[i].helpTopic)]);
    }
    std::sort(order.begin(), order.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
}

// Every control gets the layout's font as its own: one inherited from the
// window gives way to the application font under any style sheet, and the
// fixed boxes would clip their captions. A font the sheet sets still wins.
void frmMain::pinFonts() {
    const QFont font = dialogFont();
    UnchangedFont unchanged;
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (child->isWindow() || child->testAttribute(Qt::WA_SetFont))
            continue;
        // One a style sheet has already polished (a page shown while the
        // panel was built) keeps a font other than the application's: that
        // is the sheet's own.
        if (child->testAttribute(Qt::WA_WState_Polished) &&
            child->font() != QApplication::font(child))
            continue;
        const bool quiet = qobject_cast<QComboBox *>(child) && child->font() == font;
        if (quiet)
            child->installEventFilter(&unchanged);
        child->setFont(font);
        if (quiet)
            child->removeEventFilter(&unchanged);
    }
}

// Actions of the window, not controls on it: the fixed layout has no place
// for them, so they are reached by key, by the context menu and by a drop.
void frmMain::createProfileActions() {
    mnuOpenProfile = new QAction(QStringLiteral("Open Profile\u2026"), this);
    mnuOpenProfile->setObjectName(QStringLiteral("mnuOpenProfile"));
    mnuOpenProfile->setShortcut(QKeySequence::Open);
    connect(mnuOpenProfile, &QAction::triggered, this,
            [this] { runGuarded(this, [this] { mnuOpenProfile_Click(); }); });
    mnuSaveProfile = new QAction(QStringLiteral("Save Profile\u2026"), this);
    mnuSaveProfile->setObjectName(QStringLiteral("mnuSaveProfile"));
    mnuSaveProfile->setShortcut(QKeySequence::Save);
    connect(mnuSaveProfile, &QAction::triggered, this,
            [this] { runGuarded(this, [this] { mnuSaveProfile_Click(); }); });
    addAction(mnuOpenProfile);
    addAction(mnuSaveProfile);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setAcceptDrops(true);
}

QComboBox *frmMain::list(const char *comboName) const {
    const settings::Setting *setting = settings::findSetting(comboName);
    return mLists[std::size_t(setting - settings::catalogue().data())];
}

void frmMain::Form_Load() {
    labVersion->setText(QStringLiteral("Version %1.%2.%3")
                            .arg(VersionMajor)
                            .arg(VersionMinor)
                            .arg(VersionRevision));

    for (const char *name :
         {"cmbBuffer", "cmbCPage", "cmbCRCode", "cmbCSpacing", "cmbDensity", "cmbEPColumns",
          "cmbFFAction", "cmbIntCSet", "cmbLSpacing", "cmbPESignal", "cmbPNEnd", "cmbPWidth",
          "cmbSpeed", "cmbZStyle", "cmbEPFontSize", "cmbEPSpacing"})
        list(name)->setCurrentIndex(0);

    // A configuration that cannot be read is reported; the panel then keeps
    // its defaults and start-up goes on.
    runGuarded(this, [this] { mVelaComm1->ReadConfig(QString::fromLatin1(ConfigKey)); });
    connect(mVelaComm1, &comm::VelaComm::connectionChanged, mStoreTimer,
            qOverload<>(&QTimer::start), Qt::UniqueConnection);

    labTitle->setText(QString::fromLatin1(ProductName));
    setWindowTitle(QString::fromLatin1(ProductName));
    mSSTab1->setCurrentPage(0);
    mHelp->LoadHelpTopics();
    mHelp->loadHelpWindow();
}

// WindowHints centres the frame whenever the window is shown.
void frmMain::showCentred() {
    show();
}

void frmMain::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    // Focus is marked from the start, not only once the Tab key has been
    // used; showing a window clears the mark's switch, so it is set here.
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void frmMain::closeEvent(QCloseEvent *event) {
    // A send still running is cancelled; its connection is closed before
    // the configuration is stored.
    delete std::exchange(mJob, nullptr);
    mStoreTimer->stop();
    if (!mUnloaded) {
        std::int16_t Cancel = 0;
        Form_Unload(Cancel);
        mUnloaded = true;
    }
    event->accept();
}

void frmMain::Form_Unload(std::int16_t & /*Cancel*/) {
    // A configuration that cannot be stored is reported; the window still
    // closes and the program ends.
    runGuarded(this, [this] { mVelaComm1->WriteConfig(QString::fromLatin1(ConfigKey)); });
    mHelp->unloadHelpWindow();
}

// Stored with the same writer as at Close. A store that fails is reported
// once, not after every pause in typing; Close reports it again.
void frmMain::storeConnection() {
    try {
        mVelaComm1->WriteConfig(QString::fromLatin1(ConfigKey));
        mStoreFailed = false;
    } catch (const RuntimeError &error) {
        if (!std::exchange(mStoreFailed, true))
            showRuntimeError(this, error);
    } catch (const std::exception &error) {
        if (!std::exchange(mStoreFailed, true))
            showRuntimeError(this,
                             RuntimeError(51, QStringLiteral("Internal error: %1")
                                                  .arg(QString::fromLocal8Bit(error.what()))));
    }
}

// Return and keypad Enter press the focused button, as Space does; Qt's
// buttons take them only in dialogs.
void frmMain::keyPressEvent(QKeyEvent *event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto *button = qobject_cast<QPushButton *>(QApplication::focusWidget());
    if (enter && !event->isAutoRepeat() && button && button->window() == this &&
        button->isEnabled()) {
        button->animateClick();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::butClose_Click() {
    close();
}

settings::Selection frmMain::selection() const {
    settings::Selection selection{};
    for (std::size_t i = 0; i < settings::SettingCount; ++i)
        selection[i] = std::int16_t(mLists[i]->currentIndex());
    return selection;
}

void frmMain::butDownload_Click() {
    const settings::Selection chosen = selection();
    const auto changed = std::count_if(chosen.begin(), chosen.end(), [](auto i) { return i > 0; });
    SendToPrinter(settings::makeSettingsBatch(chosen), settingsContent(int(changed)));
}

void frmMain::butTestPrint_Click() {
    SendToPrinter(testprint::makeTestPage(), testPageContent());
}

void frmMain::butHelp_Click(std::int16_t Index) {
    mHelp->butHelp_Click(Index);
}

// A send holds the window's input, but an action's shortcut reaches the
// action, not a widget, and a drop is no input event: both are held here.
void frmMain::mnuOpenProfile_Click() {
    if (mJob)
        return;
    const QString path = askProfilePath(this, QFileDialog::AcceptOpen);
    if (!path.isEmpty())
        openProfile(path);
}

void frmMain::mnuSaveProfile_Click() {
    if (mJob)
        return;
    const QString path = askProfilePath(this, QFileDialog::AcceptSave);
    if (!path.isEmpty())
        saveProfile(path);
}

void frmMain::openProfile(const QString &path) {
    const settings::Selection chosen = profile::readProfileSelection(path);
    for (std::size_t i = 0; i < settings::SettingCount; ++i)
        mLists[i]->setCurrentIndex(chosen[i]);
    rememberFolder(path);
    showProfileName(path);
}

void frmMain::saveProfile(const QString &path) {
    profile::writeProfile(path, selection());
    rememberFolder(path);
    showProfileName(path);
}

void frmMain::showProfileName(const QString &path) {
    setWindowTitle(QStringLiteral("%1 - %2").arg(QFileInfo(path).fileName(),
                                                 QString::fromLatin1(ProductName)));
}

void frmMain::dragEnterEvent(QDragEnterEvent *event) {
    if (!mJob && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmMain::dragMoveEvent(QDragMoveEvent *event) {
    if (!mJob && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

// Opened once the drop is over, so the source hears the drop went through
// before an error box can hold the window.
void frmMain::dropEvent(QDropEvent *event) {
    const QString path = droppedFile(event->mimeData());
    if (mJob || path.isEmpty())
        return;
    event->acceptProposedAction();
    QTimer::singleShot(0, this,
                       [this, path] { runGuarded(this, [this, path] { openProfile(path); }); });
}

// Starts the send and returns: the job opens, sends and closes the connection
// shown in the panel on its own thread, and jobFinished tells how it ended.
void frmMain::SendToPrinter(const QByteArray &data, const QString &content) {
    if (mJob)
        return; // one at a time; input is held while one runs anyway
    announce(labJobResult, QString());
    const comm::ConnectionSettings connection = mVelaComm1->settings();
    const QString destination = comm::destinationText(connection);
    auto job = std::make_unique<comm::SendJob>(comm::makePort(connection), data);
    mJob = new JobProgress(this, std::move(job), content, destination);
    connect(mJob, &JobProgress::finished, this,
            [this, content, destination](const comm::SendOutcome &outcome) {
                jobFinished(outcome, content, destination);
            });
    mJob->start();
}

void frmMain::jobFinished(const comm::SendOutcome &outcome, const QString &content,
                          const QString &destination) {
    if (mJob)
        std::exchange(mJob, nullptr)->deleteLater();
    if (outcome.result == comm::SendOutcome::Result::Failed) {
        showRuntimeError(this, RuntimeError(outcome.error, outcome.description));
        return;
    }
    markAttention(labJobResult, needsAttention(outcome));
    announce(labJobResult, jobResultText(outcome, content, destination));
}

} // namespace krv::app
