#include "ApplicationException.h"

#include <cstdio>
#include <utility>

namespace {
TExceptionHandler& InstalledHandler() {
    static TExceptionHandler handler;
    return handler;
}
} // namespace

void SetApplicationExceptionHandler(TExceptionHandler handler) {
    InstalledHandler() = std::move(handler);
}

void HandleApplicationException(const std::exception& failure) {
    if (InstalledHandler())
        InstalledHandler()(failure);
    else
        std::fprintf(stderr, "%s\n", failure.what());
}
