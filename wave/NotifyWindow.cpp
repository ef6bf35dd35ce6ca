#include "NotifyWindow.h"

#include <deque>
#include <utility>

namespace {

class TQueuedNotifyWindow;

struct TPostedMessage {
    TQueuedNotifyWindow* Window;
    std::uint32_t Message;
};

// The thread's own queue: a wave and its window belong to the thread that made them.
thread_local std::deque<TPostedMessage> Posted;

class TQueuedNotifyWindow : public TNotifyWindow {
public:
    using TNotifyWindow::TNotifyWindow;
    ~TQueuedNotifyWindow() override {
        std::erase_if(Posted,
                      [this](const TPostedMessage& posted) { return posted.Window == this; });
    }
    void PostMessage(std::uint32_t message) override { Posted.push_back({this, message}); }
    void Deliver(std::uint32_t message) { WndProc(message); }
};

std::unique_ptr<TNotifyWindow> MakeQueuedWindow(TNotifyWindow::TWndProc wndProc) {
    return std::make_unique<TQueuedNotifyWindow>(std::move(wndProc));
}

TNotifyWindowMaker Maker = MakeQueuedWindow;

} // namespace

void SetNotifyWindowMaker(TNotifyWindowMaker maker) {
    Maker = maker ? maker : MakeQueuedWindow;
}

std::unique_ptr<TNotifyWindow> MakeNotifyWindow(TNotifyWindow::TWndProc wndProc) {
    return Maker(std::move(wndProc));
}

void DeliverPostedMessages() {
    // A window procedure may post again or destroy a window; each message is taken off the
    // queue before it is handed on.
    while (!Posted.empty()) {
        const TPostedMessage next = Posted.front();
        Posted.pop_front();
        next.Window->Deliver(next.Message);
    }
}
