#pragma once

#include "ConnectionSettings.h"
#include "PrinterPort.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace krv::comm {

// The printer connection panel: the operator picks the print spooler, TCP/IP
// or a file and sets it up; the window sends its jobs through it.
class VelaComm : public QWidget, public PrinterPort {
    Q_OBJECT
public:
    explicit VelaComm(QWidget *parent = nullptr);
    ~VelaComm() override;

    // Design-time switches: false removes that kind of connection from the choice.
    void setShowSpooler(bool show);
    void setShowTcpip(bool show);
    void setShowFile(bool show);

    // Use the connection shown in the panel when OpenPort is called.
    void OpenPort() override;
    void SendData(const QByteArray &data) override;
    void ClosePort() override;

    // Nothing stored under the key is no failure: the defaults apply.
    void ReadConfig(const QString &key);
    void WriteConfig(const QString &key);

    [[nodiscard]] ConnectionSettings settings() const;
    void setSettings(const ConnectionSettings &settings);

    // Lists the spooler's queues again; a failure is shown to the operator
    // when `report` is set and otherwise kept as the list's tool tip.
    void refreshQueues(bool report);

signals:
    // The stored configuration under `key` was restored or stored.
    void configRead(const QString &key);
    void configWritten(const QString &key);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setShown(ConnectionSettings::Kind kind, bool show);
    void butRefresh_Click();
    void butBrowse_Click();
    void selectQueue(const QString &queue);

    QComboBox *const mKind;
    QStackedWidget *const mPages;
    QComboBox *const mQueue;
    QPushButton *const mRefresh;
    QLineEdit *const mHost;
    QSpinBox *const mPortNumber;
    QLineEdit *const mPath;
    QPushButton *const mBrowse;

    ConnectionSettings::Kind mHiddenKind = ConnectionSettings::Kind::Spooler; // when none is shown
    bool mQueuesListed = false;
    std::unique_ptr<PrinterPort> mPort;
};

} // namespace krv::comm
