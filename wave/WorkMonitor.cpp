#include "WorkMonitor.h"

#include "StopRequest.h"

void CheckStop(const WorkMonitor* monitor) {
    if (StopRequest::Pending() || (monitor && monitor->StopRequested()))
        throw EWorkStopped();
}
