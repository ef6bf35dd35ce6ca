// The application's central exception handling: where a failure goes that leaves a handler
// run from the event loop. The application installs its handler at start-up.
#pragma once

#include <exception>
#include <functional>

using TExceptionHandler = std::function<void(const std::exception&)>;

// Installs handler; an empty one restores the default, which prints the message to stderr.
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(const std::exception& failure);
