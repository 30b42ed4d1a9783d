#include "ErrorReport.h"

#include "ProductInfo.h"

#include <QMessageBox>

namespace krv::app {

void showRuntimeError(QWidget *parent, const RuntimeError &error) {
    QMessageBox box(
        QMessageBox::Critical, QString::fromLatin1(ProductName),
        QStringLiteral("Run-time error '%1':\n\n%2").arg(error.number()).arg(error.description()),
        QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("runtimeErrorBox"));
    box.exec();
}

} // namespace krv::app
