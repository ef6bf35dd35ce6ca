#include "InputHold.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>

namespace {

// What makes the event again when it is delivered. A pointer event is made anew from its values
// then: its points are shared with the device's record of them, which later motion moves.
std::function<std::unique_ptr<QEvent>()> Remake(const QEvent& event) {
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        const auto& mouse = static_cast<const QMouseEvent&>(event);
        return [type = mouse.type(), position = mouse.position(), scene = mouse.scenePosition(),
                global = mouse.globalPosition(), button = mouse.button(), buttons = mouse.buttons(),
                modifiers = mouse.modifiers(), device = mouse.pointingDevice()] {
            return std::make_unique<QMouseEvent>(type, position, scene, global, button, buttons,
                                                 modifiers, device);
        };
    }
    case QEvent::Wheel: {
        const auto& wheel = static_cast<const QWheelEvent&>(event);
        return [position = wheel.position(), global = wheel.globalPosition(),
                pixels = wheel.pixelDelta(), angle = wheel.angleDelta(), buttons = wheel.buttons(),
                modifiers = wheel.modifiers(), phase = wheel.phase(), inverted = wheel.inverted(),
                source = wheel.source(), device = wheel.pointingDevice()] {
            return std::make_unique<QWheelEvent>(position, global, pixels, angle, buttons,
                                                 modifiers, phase, inverted, source, device);
        };
    }
    default:
        return [copy = std::shared_ptr<QEvent>(event.clone())] {
            return std::unique_ptr<QEvent>(copy->clone());
        };
    }
}

} // namespace

InputHold::InputHold() {
    QCoreApplication::instance()->installEventFilter(this);
}

InputHold::~InputHold() {
    StopHolding();
}

void InputHold::StopHolding() {
    if (Holding)
        QCoreApplication::instance()->removeEventFilter(this);
    Holding = false;
}

// Input is taken where the platform hands it to a window, before the window routes it to the
// widget under the pointer or with the focus: delivered later to the same window, it is routed
// as it would have been then.
// Text from an input method (the way Japanese is typed) goes straight to the widget with the
// focus instead, and is held there.
bool InputHold::eventFilter(QObject* receiver, QEvent* event) {
    const bool input =
        (receiver->isWindowType() && event->isInputEvent()) || event->type() == QEvent::InputMethod;
    if (!Holding || !input)
        return false;
    Held.emplace_back(receiver, Remake(*event));
    return true;
}

void InputHold::Release() {
    StopHolding();
    // Taken out first: a handler may run an event loop of its own (a message box) meanwhile.
    auto held = std::move(Held);
    for (const auto& [receiver, remake] : held)
        if (receiver) {
            const std::unique_ptr<QEvent> event = remake();
            QCoreApplication::sendEvent(receiver, event.get());
        }
}
