// A request to stop the program, made from a signal handler: a save that has not yet put its
// file in place gives it up (its temporary file goes), so whoever stops next leaves no partial
// file. Work checks Pending() as it goes (CheckStop), and the program ends as the signal asks.
#pragma once

namespace StopRequest {

// Notes the signal that asks the program to stop; safe to call from a signal handler.
void Request(int signal) noexcept;
// Has SIGINT, SIGTERM and SIGHUP call handler, each unless it was ignored when the program
// started (as nohup ignores SIGHUP): then it stays ignored.
void CatchStopSignals(void (*handler)(int) = Request);
// The signal of the request, or 0 when none was made.
int Pending() noexcept;

} // namespace StopRequest
