// Error values that cross the platform seam and the run's own handlers.
// May contain: plain types and small helpers, no system calls.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

/// An error raised by a failing operation, carried as the classic runtime's
/// error number and description so that handlers can log them as the run log
/// expects ("ERR : in X. " + number + "::" + description).
struct RunError {
    long number = 0;
    std::string description;
    /// The system's own error code behind the runtime's number, where that
    /// number hides the reason (a library that is there but cannot be loaded
    /// is "File not found" to the runtime); 0 when there is none.
    long systemError = 0;
};

/// Thrown by subEndRun to end the run from any depth. It derives from nothing
/// so that no handler of the program catches it; only main() does.
struct EndOfRun {};

/// The classic runtime's error numbers that the program and its backends
/// raise, each with the description the runtime gives it. Every number a
/// RunError carries is named here; a number that comes from the system (a COM
/// status code) is carried as it came.
namespace err {
inline constexpr long InvalidCall = 5;           // Invalid procedure call or argument
inline constexpr long Overflow = 6;              // Overflow
inline constexpr long OutOfMemory = 7;           // Out of memory
inline constexpr long SubscriptRange = 9;        // Subscript out of range
inline constexpr long TypeMismatch = 13;         // Type mismatch
inline constexpr long InternalError = 51;        // Internal error
inline constexpr long BadFileName = 52;          // Bad file name or number
inline constexpr long FileNotFound = 53;         // File not found
inline constexpr long BadFileMode = 54;          // Bad file mode
inline constexpr long DeviceIO = 57;             // Device I/O error
inline constexpr long FileExists = 58;           // File already exists
inline constexpr long DiskFull = 61;             // Disk full
inline constexpr long PastEnd = 62;              // Input past end of file
inline constexpr long PermissionDenied = 70;     // Permission denied
inline constexpr long RenameAcrossDrives = 74;   // Can't rename with different drive
inline constexpr long PathAccess = 75;           // Path/File access error (a path that leaves its folder)
inline constexpr long PathNotFound = 76;         // Path not found
inline constexpr long ObjectNotSet = 91;         // Object variable or With block variable not set
inline constexpr long CannotCreate = 429;        // ActiveX component can't create object
inline constexpr long NoSuchMember = 438;        // Object doesn't support this property or method
inline constexpr long ArgumentNotOptional = 449; // Argument not optional
inline constexpr long WrongArguments = 450;      // Wrong number of arguments or invalid property assignment
inline constexpr long DllEntryNotFound = 453;    // its description names the entry and the library
/// TYPE_E_LIBNOTREGISTERED (&H8002801D) as the runtime reports it: a negative
/// 32-bit error number. Like CannotCreate, it means the class is not
/// registered.
inline constexpr long TypeLibNotRegistered = static_cast<std::int32_t>(0x8002801Du);
/// The same status read as an unsigned 32-bit number, as a component may
/// report it where `long` is wider than 32 bits (equal to the above where it
/// is not).
inline constexpr long TypeLibNotRegisteredUnsigned = static_cast<long>(0x8002801DL);
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
        case err::BadFileName: return "Bad file name or number";
        case err::FileNotFound: return "File not found";
        case err::BadFileMode: return "Bad file mode";
        case err::DeviceIO: return "Device I/O error";
        case err::FileExists: return "File already exists";
        case err::DiskFull: return "Disk full";
        case err::PastEnd: return "Input past end of file";
        case err::PermissionDenied: return "Permission denied";
        case err::RenameAcrossDrives: return "Can't rename with different drive";
        case err::PathAccess: return "Path/File access error";
        case err::PathNotFound: return "Path not found";
        case err::ObjectNotSet: return "Object variable or With block variable not set";
        case err::CannotCreate: return "ActiveX component can't create object";
        case err::NoSuchMember: return "Object doesn't support this property or method";
        case err::ArgumentNotOptional: return "Argument not optional";
        case err::WrongArguments: return "Wrong number of arguments or invalid property assignment";
        case err::TypeLibNotRegistered: return "Library not registered.";
        default: return "";
    }
}

/// Builds a RunError with the runtime's own description for `number`.
inline RunError runError(long number) { return RunError{number, errorDescription(number)}; }

/// The same, naming what it is about: "File not found: KGnMD5.dll".
inline RunError runError(long number, const std::string& subject) {
    return RunError{number, errorDescription(number) + ": " + subject};
}

/// A function that a library does not offer.
inline RunError dllEntryNotFound(const std::string& entry, const std::string& library) {
    return RunError{err::DllEntryNotFound, "Can't find DLL entry point " + entry + " in " + library};
}

/// A failure that carries a COM status code as its number; the runtime's
/// description is "Automation error" when the component gave none.
inline RunError automationError(long status, std::string description = {}) {
    return RunError{status, description.empty() ? "Automation error" : std::move(description)};
}

/// Runs `body`; a RunError or std::exception it raises goes to `onError` as a
/// RunError. EndOfRun passes through untouched. What `body` returns is the
/// result, or what `onError` returns after an error: a procedure whose last
/// statement is `return guarded(...)` can stop early with a `return` in its
/// body that reads as the procedure's own.
template <class Body, class OnError>
auto guarded(Body&& body, OnError&& onError) -> decltype(body()) {
    try {
        return body();
    } catch (const RunError& e) {
        return onError(e);
    } catch (const std::bad_alloc&) {
        return onError(runError(err::OutOfMemory));
    } catch (const std::exception& e) {
        return onError(RunError{err::InternalError, e.what()});
    }
}

/// One statement whose error is ignored ("on error resume next" for one line).
template <class Body>
void ignoreErrors(Body&& body) {
    guarded(std::forward<Body>(body), [](const RunError&) {});
}
