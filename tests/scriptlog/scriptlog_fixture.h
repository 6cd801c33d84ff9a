// A run prepared for the log parsers: installation path C:\Agent\, the
// threshold file's folder, a script name and the default threshold.
#pragma once

#include <string>
#include <vector>

#include "platform/profile.h"
#include "support/test_support.h"

struct ParserRun : TestRun {
    static constexpr const char* kIni = "C:\\Agent\\Configuration\\ATZThreshold.ini";
    static constexpr const char* kSection = "FailureDesc_Job.atz";
    static constexpr const char* kLogs = "C:\\Agent\\AutomiseLogs\\";

    CountingProfile counting{profile};

    ParserRun() {
        useInstallPath("C:\\Agent\\");
        sandbox.makeFolder("C:\\Agent\\Configuration");
        sandbox.makeFolder(kLogs);
        platform.profile = &counting;
        ctx->sys.profile = &counting;
        ctx->job.strExecuteScript = "Job.atz";
        ctx->strVTXVariablesTh = "24";
    }

    /// The failure counter of `key` as the file holds it ("" when missing).
    std::string counter(const std::string& key) { return profile.GetString(kSection, key, "", 555, kIni); }
    void setCounter(const std::string& key, const std::string& value) {
        profile.WriteString(kSection, key, value, kIni);
    }
    /// The "Successfully Written" lines of the counters, in order.
    std::vector<std::string> counterLines() const {
        std::vector<std::string> out;
        for (const auto& m : messages()) {
            if (m.rfind("MSG : Preprocessing: Successfully Written ", 0) == 0) out.push_back(m);
        }
        return out;
    }
    static std::string writtenLine(const std::string& value, const std::string& key) {
        return std::string("MSG : Preprocessing: Successfully Written ") + value + " to variable " + key +
               " to file " + kIni;
    }
};

/// Lines joined with CR LF, each ended by one.
inline std::string crlfLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) out += line + "\r\n";
    return out;
}
