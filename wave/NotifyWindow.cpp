#include "NotifyWindow.h"

#include <QCoreApplication>

#include <utility>

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TMessageEvent : public QEvent {
public:
    explicit TMessageEvent(std::uint32_t message) : QEvent(kMessageEvent), Message(message) {}
    const std::uint32_t Message;
};

} // namespace

TNotifyWindow::TNotifyWindow(TWndProc wndProc) : WndProc(std::move(wndProc)) {}

void TNotifyWindow::PostMessage(std::uint32_t message) {
    QCoreApplication::postEvent(this, new TMessageEvent(message));
}

bool TNotifyWindow::event(QEvent* e) {
    if (e->type() != kMessageEvent)
        return QObject::event(e);
    WndProc(static_cast<TMessageEvent*>(e)->Message);
    return true;
}
