// Program entry: the application with its central exception handling, the design font, and
// the main window. Command-line arguments are not options: the program starts the same with any.
#include "Application.h"
#include "DesignFont.h"
#include "SignalCloser.h"
#include "Unit1.h"

#include <csignal>

int main(int argc, char** argv) {
    // A write past a file-size limit then fails, and its save says so, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    // The layout is in design pixels, which Qt scales by the desktop's own factor (1.5 at 150 %),
    // unrounded.
    QApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    TApplication application(argc, argv);
    RegisterDesignFontSubstitution();
    TForm1 form;
    form.show();
    // A logout, kill or Ctrl-C closes the window as its close button does.
    SignalCloser closer({SIGTERM, SIGHUP, SIGINT}, [&form] { form.close(); });
    return application.exec();
}
