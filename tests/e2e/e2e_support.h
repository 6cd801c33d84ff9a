// End-to-end support: a sandbox machine with the agent installed at C:\Agent\,
// the stand-in runner registered, and the built program run as a process.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "test_support.h"

struct E2EMachine {
    Sandbox sandbox;

    /// Registry, installation folders, the two library files, the URL file and
    /// the stand-in runner at C:\Program Files\VSoft\Automise\ATCMD.exe.
    explicit E2EMachine(const std::string& webpostBase = "http://127.0.0.1:9/");

    /// Writes a script project file into the action's ProcessedScripts folder
    /// and returns its script-details entry ("HTTP@#@name@#@md5").
    std::string addScript(const std::string& name, const std::string& content,
                          const std::string& action = "Action_27_KRN");
    /// Writes the job list of the action with these job strings.
    void writeJobs(const std::vector<std::string>& jobs, const std::string& action = "Action_27_KRN");
    /// A job string of ten fields.
    static std::string job(const std::string& scriptId, const std::string& executeScript,
                           const std::string& minutes = "1", const std::string& context = "0",
                           const std::string& params = "");

    /// Runs build/vorbex with this command line; returns its exit status.
    int run(const std::string& commandLine = "5,2,Action_27_KRN");
    /// Starts build/vorbex with this command line without waiting (see finish).
    pid_t start(const std::string& commandLine);
    /// Waits for a program started by start(); returns its exit status.
    static int finish(pid_t pid);
    /// The text of the newest run log.
    std::string runLog() const;
    /// The messages of the run log (stamps removed), continuation lines as they are.
    std::vector<std::string> logMessages() const;
    /// The messages of every run log (stamps removed), file after file.
    std::vector<std::string> allLogMessages() const;
    /// Names of the files in C:\Agent\HVRPostLogs.
    std::vector<std::string> drops() const;
    std::string readDrop(const std::string& name) const;
};

std::string md5Hex(const std::string& bytes);
