// What the posix process backend reads of other processes in /proc: ids,
// executable names, identities, environments, parents and start times.
// May contain: declarations only; proc_reader.cpp reads the files.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

/// Who a process acts as: its effective uid and gid and its supplementary groups.
struct ProcIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

/// What the tree walk needs of /proc/<pid>/stat.
struct ProcStat {
    char state = '?';
    pid_t ppid = 0;
    unsigned long long startTime = 0;  // clock ticks after boot
};

/// The ids of the processes /proc lists now, ascending; false with errno set
/// when /proc cannot be read.
bool processIds(std::vector<pid_t>& ids);

/// The executable name of a process, as a snapshot shows it: the file name
/// of /proc/<pid>/exe, else of argv[0] from /proc/<pid>/cmdline (the exe link
/// of another user's process is readable only with privileges), else
/// /proc/<pid>/comm; "" when the process is gone.
std::string executableName(pid_t pid);

/// The effective uid and gid and the groups from /proc/<pid>/status; false
/// with errno set when they cannot be read.
bool readIdentity(pid_t pid, ProcIdentity& identity);

/// The environment of a process from /proc/<pid>/environ, one NAME=value per
/// entry; false with errno set when it cannot be read.
bool readEnvironment(pid_t pid, std::vector<std::string>& environment);

/// The state, parent and start time from /proc/<pid>/stat; false when the
/// process is gone or the file cannot be read.
bool readStat(pid_t pid, ProcStat& stat);

/// Every process of the system with its stat, by pid.
std::map<pid_t, ProcStat> allProcesses();
