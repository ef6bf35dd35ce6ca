// Program entry: the application with its central exception handling, the design font, and
// the main window. Command-line arguments are not options: the program starts the same with any.
#include "Application.h"
#include "DesignFont.h"
#include "Unit1.h"

#include <csignal>

int main(int argc, char** argv) {
    // A write past a file-size limit then fails, and its save says so, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
    // The layout is in pixels as designed; it is not scaled to the screen's resolution.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    TApplication application(argc, argv);
    RegisterDesignFontSubstitution();
    TForm1 form;
    form.show();
    return application.exec();
}
