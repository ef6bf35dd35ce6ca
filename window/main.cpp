// Program entry: the application with its central exception handling, the design font, and
// the main window. Command-line arguments are not options: the program starts the same with any.
#include "Application.h"
#include "DesignFont.h"
#include "PathParts.h"
#include "Platform.h"
#include "SignalCloser.h"
#include "Unit1.h"

#include <QFile>
#include <QIcon>

namespace {

// The icon theme's icon of an installed Tessaly, else the renders built into the program; none
// where the program carries its icon as the system's own resource (Windows), which Qt shows.
QIcon WindowIcon() {
    QIcon builtIn;
    for (const int size : {16, 32, 48, 64, 128, 256})
        if (const QString render = QStringLiteral(":/icon/%1.png").arg(size); QFile::exists(render))
            builtIn.addFile(render);
    return QIcon::fromTheme(QStringLiteral(TESSALY_APP_ID), builtIn);
}

} // namespace

int main(int argc, char** argv) {
    // A write past a file-size limit then fails, and its save says so, instead of killing us.
    Platform::PrepareWindowProcess();
    // An installer waits while this program runs.
    Platform::MarkRunning(ProgramFolder());
    // The layout is in design pixels, which Qt scales by the desktop's own factor (1.5 at 150 %),
    // unrounded.
    QApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    TApplication application(argc, argv);
    // The desktop file's name ties the window to its menu entry (Wayland's app id).
    QGuiApplication::setDesktopFileName(QStringLiteral(TESSALY_APP_ID));
    QApplication::setWindowIcon(WindowIcon());
    RegisterDesignFontSubstitution();
    TForm1 form;
    form.show();
    // A logout, kill or Ctrl-C closes the window as its close button does, and first whatever
    // else is up (a failure's message box): a dialog's own event loop returns as if it
    // were cancelled, so no window outlives the form.
    SignalCloser closer([&form] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window != &form && window->isVisible() && !window->close())
                window->hide();
        form.close();
    });
    // The program quits without a close when the desktop session ends (Windows' logoff or
    // shutdown), and the system ends the process soon after: the batch stops first.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &form,
                     [&form] { form.EndSession(); });
    return application.exec();
}
