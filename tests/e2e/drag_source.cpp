// A drag source for the end-to-end tests: a small window at the screen's
// corner that starts an XDND drag of one file as soon as a button is pressed
// on it, so that xdotool's pointer moves carry the file to another window as
// a file manager would. Runs until it is stopped.
//   drag_source FILE
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class DragSource : public QWidget {
public:
    explicit DragSource(QString path) : mPath(std::move(path)) {
        setWindowTitle(QStringLiteral("drag source"));
        setFixedSize(120, 80);
    }

protected:
    void mousePressEvent(QMouseEvent *) override {
        auto *data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(mPath)});
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction done = drag->exec(Qt::CopyAction);
        // The target asks for the file's name once the drop has arrived, so
        // the source stays until the test stops it.
        std::printf("drop %s\n", done == Qt::CopyAction ? "copied" : "refused");
        std::fflush(stdout);
    }

private:
    QString mPath;
};

} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drag_source FILE\n");
        return 2;
    }
    DragSource source(QString::fromLocal8Bit(argv[1]));
    source.move(0, 0);
    source.show();
    return application.exec();
}
