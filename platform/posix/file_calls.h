// What the plain and the confined file operations of the posix backend share:
// the errno mapping, the read-only rule and the text stream over a descriptor.
// May contain: declarations only; defined in filesystem.cpp.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/filesystem.h"
#include "platform/posix/fd.h"

namespace posix {

/// Raises the scripting runtime's error for the errno value `error` of a call on `hostPath`.
[[noreturn]] void raise(int error, const std::string& hostPath);
/// True when the file is read-only as Windows would see it.
bool isReadOnly(const struct stat& st);
/// A text stream that owns `file`; `hostPath` names it in errors.
std::unique_ptr<TextStream> streamOver(Fd file, bool forReading, std::string hostPath);

}  // namespace posix
