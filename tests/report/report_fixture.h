// A run prepared for reporting: installation folder with its working
// folders, an identity, and helpers to read the drop folder.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

struct ReportRun : TestRun {
    ReportRun() {
        useInstallPath();
        ctx->strMemberID = "11";
        ctx->strSiteID = "22";
        ctx->strRegID = "33";
        ctx->strRegType = "MSMA";
        ctx->strStartTime = "12/07/2026 10:15:30";
        sandbox.makeFolder("C:\\Agent\\AutomiseLogs");
        sandbox.makeFolder("C:\\Agent\\HVRPostLogs");
        sandbox.makeFolder("C:\\Agent\\Configuration");
    }

    /// Writes kScriptDNS.ini with one URL line per record.
    void setBases(const std::vector<std::pair<std::string, std::string>>& bases) {
        std::string ini;
        for (const auto& [record, url] : bases) ini += "[" + record + "]\r\nURL=" + url + "\r\n";
        sandbox.writeFile("C:\\Agent\\Configuration\\kScriptDNS.ini", ini);
    }

    /// File names in a folder of the installation, sorted.
    std::vector<std::string> filesIn(const std::string& folder) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(sandbox.hostPath("C:\\Agent\\" + folder), ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> drops() const { return filesIn("HVRPostLogs"); }
    /// The partial name under which this process writes a drop in HVRPostLogs.
    std::string staging(const std::string& name) { return name + ".vx" + std::to_string(host.ProcessId()) + ".tmp"; }
    std::string drop(const std::string& name) const { return sandbox.readFile("C:\\Agent\\HVRPostLogs\\" + name); }

    int count(const std::string& message) const {
        const auto all = messages();
        return static_cast<int>(std::count(all.begin(), all.end(), message));
    }
};
