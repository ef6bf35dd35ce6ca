#include "Application.h"

#include "ApplicationException.h"
#include "QtNotifyWindow.h"

#include <QMessageBox>

std::string ExceptionMessageText(const std::string& message) {
    // Compared as an unsigned byte, so a message that ends in a multi-byte character gets its
    // stop too.
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

void ShowApplicationException(const std::exception& failure) {
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                          QString::fromStdString(ExceptionMessageText(failure.what())),
                          QMessageBox::Ok);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tessaly"));
    SetApplicationExceptionHandler(ShowApplicationException);
    UseQtNotifyWindows();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        HandleApplicationException(failure);
        return false;
    }
}
