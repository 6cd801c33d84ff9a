// Error values that cross the platform seam and the run's own handlers.
// May contain: plain types and small helpers, no system calls.
#pragma once

#include <exception>
#include <string>
#include <utility>

/// An error raised by a failing operation, carried as the classic runtime's
/// error number and description so that handlers can log them as the run log
/// expects ("ERR : in X. " + number + "::" + description).
struct RunError {
    long number = 0;
    std::string description;
};

/// Thrown by subEndRun to end the run from any depth. It derives from nothing
/// so that no handler of the program catches it; only main() does.
struct EndOfRun {};

/// The classic runtime's error numbers that the program raises itself.
namespace err {
inline constexpr long InvalidCall = 5;      // Invalid procedure call or argument
inline constexpr long Overflow = 6;         // Overflow
inline constexpr long OutOfMemory = 7;      // Out of memory
inline constexpr long SubscriptRange = 9;   // Subscript out of range
inline constexpr long TypeMismatch = 13;    // Type mismatch
inline constexpr long InternalError = 51;   // Internal error
inline constexpr long FileNotFound = 53;    // File not found
inline constexpr long FileExists = 58;      // File already exists
inline constexpr long PastEnd = 62;         // Input past end of file
inline constexpr long PathAccess = 75;      // Path/File access error (a path that leaves its folder)
inline constexpr long PermissionDenied = 70;// Permission denied
inline constexpr long PathNotFound = 76;    // Path not found
inline constexpr long CannotCreate = 429;   // ActiveX component can't create object
}  // namespace err

/// The runtime's description for one of the numbers above ("" for others).
inline std::string errorDescription(long number) {
    switch (number) {
        case err::InvalidCall: return "Invalid procedure call or argument";
        case err::Overflow: return "Overflow";
        case err::OutOfMemory: return "Out of memory";
        case err::SubscriptRange: return "Subscript out of range";
        case err::TypeMismatch: return "Type mismatch";
        case err::InternalError: return "Internal error";
        case err::FileNotFound: return "File not found";
        case err::FileExists: return "File already exists";
        case err::PastEnd: return "Input past end of file";
        case err::PathAccess: return "Path/File access error";
        case err::PermissionDenied: return "Permission denied";
        case err::PathNotFound: return "Path not found";
        case err::CannotCreate: return "ActiveX component can't create object";
        default: return "";
    }
}

/// Builds a RunError with the runtime's own description for `number`.
inline RunError runError(long number) { return RunError{number, errorDescription(number)}; }

/// Runs `body`; a RunError or std::exception it raises goes to `onError` as a
/// RunError. EndOfRun passes through untouched.
template <class Body, class OnError>
void guarded(Body&& body, OnError&& onError) {
    try {
        body();
    } catch (const RunError& e) {
        onError(e);
    } catch (const std::bad_alloc&) {
        onError(runError(err::OutOfMemory));
    } catch (const std::exception& e) {
        onError(RunError{err::InternalError, e.what()});
    }
}

/// One statement whose error is ignored ("on error resume next" for one line).
template <class Body>
void ignoreErrors(Body&& body) {
    guarded(std::forward<Body>(body), [](const RunError&) {});
}
