// Finding a name in a folder without regard to case, without reading a large
// folder again for every name that is not there.
// May contain: POSIX and Linux calls (inotify), no program logic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// The entry of the folder held open by `dir` whose name, in the program's
/// code page, equals `name` (the program's text) without regard to case
/// (ASCII letters); for a caller that has found no entry spelled exactly as
/// `name` in UTF-8. The entry is given as it is named on disk; nothing when
/// there is none. Comparing in the code page finds an entry whose name is not
/// UTF-8 too: its bytes are the program's name for it (code_page.h).
///
/// The first question about a folder reads it whole and keeps its names for
/// the rest of the process, with an inotify watch on the folder: every
/// creation, rename and deletion in it, by this process or any other, reaches
/// the kept names before they are next asked, so a name that is missing costs
/// a look-up, not a reading of the folder. A name found there is confirmed
/// with the folder before it is given (a wrong one makes the folder be read
/// afresh). Where no watch can be had (no inotify, its limits reached, a
/// network file system whose changes from other machines no watch sees), or
/// after the watch queue overflowed, the folder is read whole again: slower,
/// never wrong.
std::optional<std::string> otherCaseIn(int dir, const std::string& name);

/// How many times a folder has been read whole for otherCaseIn, for tests and
/// benchmarks that show the kept names are used.
std::uint64_t folderReadings();
