// Renders the window after a real drop of a few files (converted and failed ones) into a PNG,
// for the README: window_screenshot OUT.png [FOLDER]. Run it under a display (xvfb-run) or
// offscreen. Without FOLDER the files go from one temporary folder into another; with it they
// are written into FOLDER and converted into the default destination, the Waves folder beside
// the program (a copy in ~/TSL shows what an installed Tessaly shows).
#include "Application.h"
#include "DesignFont.h"
#include "TestSupport.h"
#include "Unit1.h"

#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QUrl>
#include <QWindow>

#include <cstdio>
#include <filesystem>

namespace {

QList<QUrl> WriteSources(const std::string& takes) {
    std::filesystem::create_directory(takes);
    const Bytes samples = Samples16({0, 900, -900, 1800, -1800, 2700, -2700, 3600});
    Format stereo;
    stereo.Channels = 2;
    Format low;
    low.Rate = 11025;
    low.Bits = 8;
    WriteFileBytes(takes + "/voice.wav", WaveImage(stereo, samples));
    WriteFileBytes(takes + "/ナレーション.wav", WaveImage({}, samples));
    WriteFileBytes(takes + "/drums.wav", WaveImage(low, samples));
    WriteFileBytes(takes + "/memo.txt", {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'});
    QList<QUrl> urls;
    for (const char* name : {"voice.wav", "ナレーション.wav", "drums.wav", "memo.txt"})
        urls << QUrl::fromLocalFile(QString::fromStdString(takes + "/" + name));
    return urls;
}

void DropOn(TForm1& form, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint point(200, 200);
    QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.windowHandle(), &enter);
    QDropEvent drop(QPointF(point), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.windowHandle(), &drop);
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: window_screenshot OUT.png [FOLDER]\n");
        return 2;
    }
    TApplication application(argc, argv);
    RegisterDesignFontSubstitution();
    TempDir sources, results;
    TForm1 form;
    // Wider than designed, so that every column of the rows shows.
    form.resize(1020, 525);
    form.show();
    form.findChild<QRadioButton*>("RadioButton2")->click(); // 22050Hz
    if (argc == 2) {
        form.findChild<QRadioButton*>("RadioButton14")->click(); // 指定フォルダ
        form.findChild<QLineEdit*>("Edit1")->setText(QString::fromStdString(results.path()));
    }
    DropOn(form, WriteSources(argc == 3 ? std::string(argv[2]) : sources / "takes"));
    // The batch runs beside the event loop: the picture waits for its last row.
    while (form.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return form.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
