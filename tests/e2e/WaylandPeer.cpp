// A drag source in a Wayland session, as a file manager is one: a window that, when the left
// button is pressed on it, drags the files named on its command line as text/uri-list.
// It prints "dragging" as the drag starts, "accepted" once a window under the pointer has said
// it takes the files, then how the drop went ("copy", or "ignore" when no window took it), and
// ends.
//
// Usage: waylandpeer FILE...   (with QT_QPA_PLATFORM=wayland)
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
    explicit DragSource(QList<QUrl> files) : Files(std::move(files)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(Files);
        drag->setMimeData(data);
        connect(drag, &QDrag::actionChanged, this, [](Qt::DropAction action) {
            if (action == Qt::CopyAction)
                Say("accepted");
        });
        Say("dragging");
        Say(drag->exec(Qt::CopyAction) == Qt::CopyAction ? "copy" : "ignore");
        QApplication::quit();
    }

private:
    static void Say(const char* line) {
        std::printf("%s\n", line);
        std::fflush(stdout);
    }

    QList<QUrl> Files;
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName("tessaly-dragsource");
    QList<QUrl> files;
    for (const QString& path : QApplication::arguments().mid(1))
        files.append(QUrl::fromLocalFile(path));
    DragSource source(files);
    source.resize(200, 200);
    source.show();
    return QApplication::exec();
}
