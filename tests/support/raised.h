// The error a statement raises, for tests of both backends and of every floor.
// May contain: header-only helpers over RunError.
#pragma once

#include <utility>

#include "base/errors.h"

/// The RunError that `body` raised; number 0 and no text when it raised none.
template <class Body>
RunError raisedBy(Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const RunError& e) {
        return e;
    }
    return RunError{};
}

/// The error number that `body` raised; 0 when it raised none.
template <class Body>
long errorOf(Body&& body) {
    return raisedBy(std::forward<Body>(body)).number;
}
