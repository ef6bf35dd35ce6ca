// The application object and its central exception handling: a failure that leaves an event
// handler is shown in a critical message box titled "Tessaly", and the event loop goes on.
#pragma once

#include <QApplication>

#include <exception>
#include <string>

// The text the box shows: the message, with "." appended when its last character sorts after
// "." (a message ending in "." or another punctuation mark before it is left as it is).
std::string ExceptionMessageText(const std::string& message);

// The message box of the central exception handling (modal, OK button).
void ShowApplicationException(const std::exception& failure);

class TApplication : public QApplication {
    Q_OBJECT

public:
    // Names the application "Tessaly" and installs ShowApplicationException as the central
    // handler, also for the wave unit's notifications, which its event loop delivers.
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
