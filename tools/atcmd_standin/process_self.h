// What the stand-in needs of its own process that the platform seam does not
// carry: its id, its user, and a child that dies with it.
// May contain: declarations only; process_self_posix.cpp and
// process_self_win32.cpp define them, and the build takes its own.
#pragma once

#include <cstdint>
#include <string>

struct Platform;

/// An argument of this process as the program's text (the system code page):
/// on Linux the launcher hands arguments over in UTF-8, so they are taken
/// back with the backend's own conversion; on Windows they already are.
std::string argumentText(const char* argument);

/// The id of this process, as the system's process lists show it.
std::uint32_t currentProcessId();

/// Who this process runs as. Posix: the real uid. Windows: the account name.
std::string currentUserId();

/// Starts a child that sleeps `ms` milliseconds and is ended with the stand-in
/// when the launcher ends the stand-in's tree; its id goes to `processId`.
/// False when it could not be started.
/// Posix: a fork that stays in the stand-in's process group (the backend's
/// process creation would make it a session of its own, out of reach of the
/// group kill that is under test). Windows: the stand-in started again with
/// `--sleep <ms>` through the processes interface, so it joins the stand-in's
/// job as any program the runner starts would.
/// With `ignoreTerm` the child ignores the polite request to end (posix:
/// SIGTERM and SIGHUP), as some tools do; only a forced end stops it.
bool startSleepingChild(Platform& sys, long ms, bool ignoreTerm, std::uint32_t& processId);

/// Starts a grandchild that sleeps `ms` milliseconds through a middle process
/// that ends at once, as a daemon detaches: the grandchild's parent is gone
/// and nothing but the launcher's tree walk links it to the stand-in. Posix:
/// the grandchild is a session of its own and ignores SIGTERM and SIGHUP.
/// Windows: the middle is the stand-in started again with `--detach <ms>`,
/// which starts `--sleep <ms>` and exits with the grandchild's id.
bool startDetachedChild(Platform& sys, long ms, std::uint32_t& processId);

/// Starts a process that changes its id every `intervalMs` milliseconds for
/// `lifetimeMs`, as a script that tries to outrun a termination would: it
/// leaves the stand-in's session, then forks and lets the parent exit, again
/// and again. Its first id goes to `processId`. Posix only: false on Windows.
bool startHopper(long intervalMs, long lifetimeMs, std::uint32_t& processId);

/// Takes the name of the job mutex for `lockFile` with an event, as a user
/// who wanted the program's runs to go on without their lock would, writes
/// "held" to standard output and keeps the name for `ms` milliseconds.
/// Windows only; posix answers false at once (an flock has no name to take).
bool squatJobLockName(const std::string& lockFile, long ms);
