// A hidden receiver of device messages, served by the event loop of the thread that made it.
// The wave unit knows no event loop of its own: a program that runs one installs a maker of
// windows that post to it; without one, posted messages wait until DeliverPostedMessages().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class TNotifyWindow {
public:
    using TWndProc = std::function<std::intptr_t(std::uint32_t message)>;

    explicit TNotifyWindow(TWndProc wndProc) : WndProc(std::move(wndProc)) {}
    virtual ~TNotifyWindow() = default;
    TNotifyWindow(const TNotifyWindow&) = delete;
    TNotifyWindow& operator=(const TNotifyWindow&) = delete;

    // Queues message; the event loop hands it to the window procedure later.
    virtual void PostMessage(std::uint32_t message) = 0;
    // Hands message to the window procedure at once and returns its result.
    std::intptr_t SendMessage(std::uint32_t message) { return WndProc(message); }

protected:
    TWndProc WndProc;
};

using TNotifyWindowMaker = std::unique_ptr<TNotifyWindow> (*)(TNotifyWindow::TWndProc wndProc);

// The window of each in-memory wave made from now on comes from maker; nullptr restores the
// default, whose messages wait for DeliverPostedMessages().
void SetNotifyWindowMaker(TNotifyWindowMaker maker);
std::unique_ptr<TNotifyWindow> MakeNotifyWindow(TNotifyWindow::TWndProc wndProc);

// Hands every message posted to a default window of this thread to its window procedure, in
// the order they were posted; a window destroyed meanwhile gets none.
void DeliverPostedMessages();

// What a message nobody handles yields.
inline std::intptr_t DefWindowProc(std::uint32_t /*message*/) {
    return 0;
}
