// Pressed, drags FILE (XDND) as a file manager would; runs until stopped, as
// the target asks for the name after the drop.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QPushButton source(QStringLiteral("drag source"));
    source.setWindowTitle(QStringLiteral("drag source"));
    source.setGeometry(0, 0, 120, 80);
    const QUrl file = QUrl::fromLocalFile(QString::fromLocal8Bit(argc > 1 ? argv[1] : ""));
    QObject::connect(&source, &QPushButton::pressed, &source, [&] {
        auto *data = new QMimeData;
        data->setUrls({file});
        auto *drag = new QDrag(&source);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    });
    source.show();
    return application.exec();
}
