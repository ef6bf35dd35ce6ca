// The wave unit's notification windows, served by Qt's event loop.
#pragma once

// Has every in-memory wave made from now on post its device messages to the event loop of
// the thread that made it.
void UseQtNotifyWindows();
