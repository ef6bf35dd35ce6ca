// A hidden receiver of device messages, served by the event loop of the thread that made it.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <functional>

class TNotifyWindow : public QObject {
    Q_OBJECT
public:
    using TWndProc = std::function<std::intptr_t(std::uint32_t message)>;

    explicit TNotifyWindow(TWndProc wndProc);

    // Queues message; the event loop hands it to the window procedure later.
    void PostMessage(std::uint32_t message);
    // Hands message to the window procedure at once and returns its result.
    std::intptr_t SendMessage(std::uint32_t message) { return WndProc(message); }

protected:
    bool event(QEvent* e) override;

private:
    TWndProc WndProc;
};

// What a message nobody handles yields.
inline std::intptr_t DefWindowProc(std::uint32_t /*message*/) {
    return 0;
}
