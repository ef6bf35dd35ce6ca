#include "QtNotifyWindow.h"

#include "NotifyWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TMessageEvent : public QEvent {
public:
    explicit TMessageEvent(std::uint32_t message) : QEvent(kMessageEvent), Message(message) {}
    const std::uint32_t Message;
};

// A QObject, so that events posted to a window destroyed before they are delivered are dropped
// with it.
class TQtNotifyWindow : public QObject, public TNotifyWindow {
public:
    using TNotifyWindow::TNotifyWindow;

    void PostMessage(std::uint32_t message) override {
        QCoreApplication::postEvent(this, new TMessageEvent(message));
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() != kMessageEvent)
            return QObject::event(e);
        WndProc(static_cast<TMessageEvent*>(e)->Message);
        return true;
    }
};

std::unique_ptr<TNotifyWindow> MakeQtNotifyWindow(TNotifyWindow::TWndProc wndProc) {
    return std::make_unique<TQtNotifyWindow>(std::move(wndProc));
}

} // namespace

void UseQtNotifyWindows() {
    SetNotifyWindowMaker(MakeQtNotifyWindow);
}
