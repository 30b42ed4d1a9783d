#pragma once

#include "ConnectionSettings.h"
#include "PrinterPort.h"
#include "RuntimeError.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace krv::comm {

class QueueLookup;
struct QueueListing;

// The printer connection panel: the operator picks the print spooler, TCP/IP,
// a file or a serial port and sets it up; the window sends its jobs through it.
class VelaComm : public QWidget, public PrinterPort {
    Q_OBJECT
public:
    explicit VelaComm(QWidget *parent = nullptr);
    ~VelaComm() override;

    // Design-time switches: false removes that kind of connection from the choice.
    void setShowSpooler(bool show);
    void setShowTcpip(bool show);
    void setShowFile(bool show);
    void setShowSerial(bool show);

    // Use the connection shown in the panel when OpenPort is called.
    void OpenPort() override;
    void SendData(const QByteArray &data) override;
    void ClosePort() override;

    // Nothing stored under the key is no failure: the defaults apply.
    void ReadConfig(const QString &key);
    void WriteConfig(const QString &key);

    [[nodiscard]] ConnectionSettings settings() const;
    void setSettings(const ConnectionSettings &settings);

    // Lists the spooler's queues again without waiting for the spooler;
    // while it looks the stored queue stays chosen. A failure is raised as
    // errorRaised when `report` is set (or Refresh is clicked meanwhile) and
    // is kept as the list's tool tip in any case.
    void refreshQueues(bool report);
    [[nodiscard]] bool lookingForQueues() const;
    // Lists the system's serial ports (again); what is typed in stays.
    void refreshSerialPorts();

signals:
    // The stored configuration under `key` was restored or stored.
    void configRead(const QString &key);
    void configWritten(const QString &key);
    // The operator changed the connection (any field of settings()).
    void connectionChanged();
    // A failure of the panel's own (Refresh) for the program to report.
    void errorRaised(const krv::RuntimeError &error);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setShown(ConnectionSettings::Kind kind, bool show);
    void butRefresh_Click();
    void butBrowse_Click();
    void txtSpeed_LostFocus();
    void selectQueue(const QString &queue);
    void setSerialFields(const SerialSettings &serial);
    void queuesListed(const QueueListing &listing);
    void noteChange();
    void fillShownPage();

    QComboBox *const mKind;
    QStackedWidget *const mPages;
    QComboBox *const mQueue;
    QPushButton *const mRefresh;
    QLineEdit *const mHost;
    QSpinBox *const mPortNumber;
    QLineEdit *const mPath;
    QPushButton *const mBrowse;
    QLabel *const mQueueStatus;
    QComboBox *const mDevice;
    QPushButton *const mRefreshPorts;
    QComboBox *const mSpeed;
    QComboBox *const mFrame;
    QComboBox *const mFlow;
    QueueLookup *const mLookup;

    ConnectionSettings::Kind mHiddenKind = ConnectionSettings::Kind::Spooler; // when none is shown
    bool mFirstFrameShown = false;
    bool mQueuesListed = false;
    bool mSerialPortsListed = false;
    bool mReportLookup = false;
    ConnectionSettings mLastSettings; // as last announced by connectionChanged
    std::unique_ptr<PrinterPort> mPort;
};

} // namespace krv::comm
