// The central exception handling: the text it shows, and that a failure leaving an event
// handler reaches it while the event loop goes on.
#include "Application.h"
#include "ApplicationException.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

TEST(ExceptionMessageText, AppendsAFullStopAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ExceptionMessageText("TRvWave.Setfreq: Invalid Frequency"),
              "TRvWave.Setfreq: Invalid Frequency.");
    EXPECT_EQ(ExceptionMessageText("ファイル /x は開けません"), "ファイル /x は開けません.");
    EXPECT_EQ(ExceptionMessageText("count 3"), "count 3.");
    EXPECT_EQ(ExceptionMessageText("/"), "/.");
}

TEST(ExceptionMessageText, LeavesMessagesEndingInAFullStopOrEarlierCharactersAlone) {
    EXPECT_EQ(ExceptionMessageText("Failed to open file."), "Failed to open file.");
    EXPECT_EQ(ExceptionMessageText("really?!"), "really?!");
    EXPECT_EQ(ExceptionMessageText("a-"), "a-");
    EXPECT_EQ(ExceptionMessageText("(b)"), "(b)");
    EXPECT_EQ(ExceptionMessageText(""), "");
}

namespace {

// Throws from its event handler, as a failing window handler would.
class Thrower : public QObject {
public:
    int Handled = 0;
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++Handled;
        throw std::runtime_error("TRvWave.GetFreq: InternalWave should not be Nil");
    }
};

} // namespace

TEST(CentralExceptionHandling, CatchesWhatLeavesAHandlerAndKeepsTheLoopGoing) {
    std::vector<std::string> shown;
    SetApplicationExceptionHandler(
        [&](const std::exception& failure) { shown.push_back(failure.what()); });
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    SetApplicationExceptionHandler(ShowApplicationException);

    EXPECT_EQ(thrower.Handled, 2);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "TRvWave.GetFreq: InternalWave should not be Nil");
    EXPECT_EQ(QCoreApplication::applicationName(), "Tessaly");
}
