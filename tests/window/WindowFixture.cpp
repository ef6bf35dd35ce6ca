#include "WindowFixture.h"

#include "Platform.h"

#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <filesystem>

std::string ShownFolder(std::string folder) {
    std::replace(folder.begin(), folder.end(), '/', Platform::PathSeparator());
    return folder + Platform::PathSeparator();
}

WindowTest::WindowTest() {
    Form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Form));
}

std::string WindowTest::WriteWave(const std::string& name, const Format& format) {
    const std::string path = Sources / name;
    WriteFileBytes(path, WaveImage(format, Samples16({0, 1000, -1000, 32767, -32768, 5, 6, 7})));
    return path;
}

std::vector<std::string> WindowTest::WriteOddlyNamedWaves() {
    std::filesystem::create_directory(Sources / "pi|pe");
    std::vector<std::string> paths;
    for (const char* name : {"plain.wav", "x|y.wav", "a→b.wav", "new\nline.wav",
                             "\x83\x65\x83\x58\x83\x67.wav", "caf\xe9.wav"})
        paths.push_back(WriteWave(std::string("pi|pe/") + name));
    return paths;
}

bool WindowTest::Drop(const std::vector<std::string>& paths, QWidget* target) {
    QList<QUrl> urls;
    for (const std::string& path : paths)
        // A drive path comes as Windows' shell hands it to Qt; a POSIX path as its own bytes.
        urls << (path.starts_with('/')
                     ? QUrl::fromEncoded("file://" +
                                         QByteArray::fromStdString(path).toPercentEncoding("/"))
                     : QUrl::fromLocalFile(QString::fromStdString(path)));
    return DropUrls(urls, target ? target : Control<QListWidget>("LB")->viewport());
}

bool WindowTest::DropUrls(const QList<QUrl>& urls, QWidget* target) {
    const bool taken = DeliverDrop(urls, target);
    WaitWhileBusy();
    return taken;
}

void WindowTest::WaitWhileBusy() {
    do
        QTest::qWait(5);
    while (Form.Busy());
    // What the batch's end asked for: the held input, the list's layout and paint.
    QCoreApplication::processEvents();
}

bool WindowTest::DeliverDrop(const QList<QUrl>& urls, QWidget* target) {
    return DeliverDropAs(urls, target, Qt::CopyAction | Qt::MoveAction, Qt::NoModifier) ==
           Qt::CopyAction;
}

Qt::DropAction WindowTest::DeliverDropAs(const QList<QUrl>& urls, QWidget* target,
                                         Qt::DropActions actions, Qt::KeyboardModifiers modifiers) {
    // File managers offer the paths as text too, which a text box would take for itself.
    QMimeData data;
    data.setUrls(urls);
    QStringList lines;
    for (const QUrl& url : urls)
        lines << url.toString();
    data.setText(lines.join(QLatin1Char('\n')));
    const QPoint point = target->mapTo(&Form, target->rect().center());
    QDragEnterEvent enter(point, actions, &data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(Form.windowHandle(), &enter);
    QDropEvent drop(QPointF(point), actions, &data, Qt::LeftButton, modifiers);
    QApplication::sendEvent(Form.windowHandle(), &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

void WindowTest::Click(const char* buttonName) {
    // On the left end, where a radio button's indicator is: a click beside a short caption
    // does not hit the button.
    auto* button = Control<QAbstractButton>(buttonName);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(6, button->height() / 2));
}

void WindowTest::WriteIntoResultFolder() {
    Click("RadioButton14");
    auto* edit = Control<QLineEdit>("Edit1");
    edit->clear();
    QTest::keyClicks(edit, QString::fromStdString(Results.path()));
}

QStringList WindowTest::Rows() {
    QStringList rows;
    auto* list = Control<QListWidget>("LB");
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}
