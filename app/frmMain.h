#pragma once

#include "SettingsBatch.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace krv::comm {
class VelaComm;
struct SendOutcome;
} // namespace krv::comm
namespace krv::help {
class HelpDesk;
}

namespace krv::app {

class JobProgress;
class TabControl;

// The utility's one working window: the "Printer" page with the connection
// panel and the action buttons, and the sixteen settings on "General" and
// "Characters". Click handlers keep the product's own names.
class frmMain : public QWidget {
    Q_OBJECT
public:
    // How long the connection must stay unchanged before it is stored.
    static constexpr int StoreDelayMs = 400;

    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Runs before the window is first shown.
    void Form_Load();
    void showCentred();

    void butDownload_Click();
    void butTestPrint_Click();
    void butClose_Click();
    void butHelp_Click(std::int16_t Index);
    // "Open Profile…" (Ctrl+O) and "Save Profile…" (Ctrl+S), also on the
    // window's context menu: a file dialog, then openProfile or saveProfile.
    void mnuOpenProfile_Click();
    void mnuSaveProfile_Click();

    // Sets every list to the profile's entry, "No Change" where it names
    // none. The whole file is read and checked first: a file that is not a
    // good profile throws krv::RuntimeError naming it and its line, and no
    // list changes.
    void openProfile(const QString &path);
    // Writes the lists not at "No Change" as a profile krv520-cli takes.
    void saveProfile(const QString &path);

    [[nodiscard]] comm::VelaComm *VelaComm1() const { return mVelaComm1; }
    [[nodiscard]] help::HelpDesk &helpDesk() const { return *mHelp; }
    [[nodiscard]] TabControl *SSTab1() const { return mSSTab1; }
    // The selected index of every setting's list, in visiting order.
    [[nodiscard]] settings::Selection selection() const;
    // The send in progress, if any: one at a time.
    [[nodiscard]] JobProgress *runningJob() const { return mJob; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createPrinterPage();
    void createSettingRows();
    void setTabOrder();
    void pinFonts();
    void createProfileActions();
    void showProfileName(const QString &path);
    void storeConnection();
    void Form_Unload(std::int16_t &Cancel);
    void SendToPrinter(const QByteArray &data, const QString &content);
    void jobFinished(const comm::SendOutcome &outcome, const QString &content,
                     const QString &destination);
    [[nodiscard]] QComboBox *list(const char *comboName) const;

    TabControl *const mSSTab1;
    QLabel *labTitle = nullptr;
    QLabel *labVersion = nullptr;
    QLabel *Image1 = nullptr;
    comm::VelaComm *mVelaComm1 = nullptr;
    QPushButton *butTestPrint = nullptr;
    QPushButton *butDownload = nullptr;
    QPushButton *butClose = nullptr;
    QLabel *labJobResult = nullptr;
    JobProgress *mJob = nullptr; // a child; gone once its outcome is shown
    QTimer *const mStoreTimer;
    QAction *mnuOpenProfile = nullptr;
    QAction *mnuSaveProfile = nullptr;
    std::array<QComboBox *, settings::SettingCount> mLists{}; // visiting order
    std::array<QPushButton *, 16> butHelp{};                  // by help topic index
    std::unique_ptr<help::HelpDesk> mHelp;
    bool mUnloaded = false;
    bool mStoreFailed = false;
};

} // namespace krv::app
