// The lexical half of confinement: where a Windows path leads once "." and
// ".." are applied, before any file system is asked.
// May contain: portable text rules only; both backends and the logic use them.
#pragma once

#include <optional>
#include <string>
#include <vector>

/// The components of `path` below `folder`, both absolute Windows paths
/// ("X:\..."; "\" or "/" separate, empty and "." components are dropped, ".."
/// goes up, never above the drive). Nothing when `path` does not lie strictly
/// below `folder` (letters compared without regard to case), when either is
/// not of that form, or when `path` has a component Windows would not take as
/// it stands: one ending in a dot or blank (Windows strips them, so ".. "
/// would climb), or one holding a control character or one of : * ? " < > |
/// (a stream name, a device, or a name a backend would cut short).
std::optional<std::vector<std::string>> componentsBelow(const std::string& folder, const std::string& path);

/// True when `finalPath` names something below `realFolder`, both as the
/// system gives the real path of an opened handle ("\\?\C:\Agent\..."),
/// compared without regard to case.
bool finalPathBelow(const std::string& realFolder, const std::string& finalPath);

/// The names PlaceNewFile is given: raises err::BadFileName unless the text
/// after the last "\" of `partial` and of `target` is a plain name
/// (isPlainName: no "/" that the system would take as a separator, no "..",
/// no device), and err::InvalidCall unless both lie in one folder, as the
/// rename between them needs.
void checkPlacedNames(const std::string& partial, const std::string& target);
