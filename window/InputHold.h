// Holds back the user's input to the program's windows while a batch serves the event loop, and
// hands it on afterwards in the order it came, so a click or key made during a batch takes effect
// when the batch ends and before anything queued behind it. Everything else (paints, drops,
// close requests, timers) goes through at once.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QEvent;

class InputHold : public QObject {
public:
    // Starts holding: from now on input reaching a window waits here.
    InputHold();
    ~InputHold() override;

    // Stops holding and delivers what was held to the windows, oldest first. Input still held
    // when the hold is destroyed is forgotten.
    void Release();

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    void StopHolding();

    bool Holding = true;
    std::vector<std::pair<QPointer<QObject>, std::function<std::unique_ptr<QEvent>()>>> Held;
};
