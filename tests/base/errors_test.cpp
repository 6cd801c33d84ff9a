// The handler every procedure runs its body in: what it gives back, to whom
// each kind of error goes, and the end of a run passing every handler.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "base/errors.h"

namespace {

// The body's own value, or the handler's after an error; the handler sees
// the runtime's number for each kind of failure.
TEST(Guarded, GivesTheBodysValueOrTheHandlersWithTheErrorsNumber) {
    auto handled = [](const RunError& e) { return "handled " + std::to_string(e.number) + " " + e.description; };
    EXPECT_EQ(guarded([] { return std::string("body"); }, handled), "body");
    EXPECT_EQ(guarded([]() -> std::string { throw runError(err::PathNotFound); }, handled),
              "handled 76 Path not found");
    EXPECT_EQ(guarded([]() -> std::string { throw std::bad_alloc(); }, handled), "handled 7 Out of memory");
    EXPECT_EQ(guarded([]() -> std::string { throw std::runtime_error("odd"); }, handled), "handled 51 odd");
}

// A body that ends the run is not handled: the end reaches the caller.
TEST(Guarded, LetsTheEndOfARunPass) {
    bool handled = false;
    EXPECT_THROW(guarded([] { throw EndOfRun{}; }, [&](const RunError&) { handled = true; }), EndOfRun);
    EXPECT_THROW(ignoreErrors([] { throw EndOfRun{}; }), EndOfRun);
    EXPECT_FALSE(handled);
}

}  // namespace
