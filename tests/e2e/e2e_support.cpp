#include "e2e_support.h"

#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string md5Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

E2EMachine::E2EMachine(const std::string& webpostBase) {
    sandbox.writeRegistry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\r\n"
        "\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
        "\"RegID\"=\"42\"\r\n"
        "\"MEMBERID\"=\"7\"\r\n"
        "\"SITEID\"=\"9\"\r\n"
        "\"TYPE\"=\"DPMA\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0]\r\n"
        "\"ATCMDLocation\"=\"C:\\\\Program Files\\\\VSoft\\\\Automise\\\\ATCMD.exe\"\r\n");
    sandbox.makeFolder("C:\\Agent\\kScripts");
    sandbox.makeFolder("C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts");
    sandbox.writeFile("C:\\Agent\\KGnMD5.dll", "library");
    sandbox.writeFile("C:\\Agent\\kWbPost.dll", "library");
    const std::string section = "URL=" + webpostBase + "\r\n";
    sandbox.writeFile("C:\\Agent\\Configuration\\kScriptDNS.ini",
                      "[wpdcmatztempexecst]\r\n" + section + "[wpdcmatztempexecfail]\r\n" + section);
    const std::string runner = sandbox.hostPath("C:\\Program Files\\VSoft\\Automise\\ATCMD.exe");
    fs::create_directories(fs::path(runner).parent_path());
    fs::copy_file(std::string(VORBEX_BINARY_DIR) + "/atcmd-standin", runner, fs::copy_options::overwrite_existing);
}

std::string E2EMachine::addScript(const std::string& name, const std::string& content, const std::string& action) {
    sandbox.writeFile("C:\\Agent\\kHVR\\Tellix\\" + action + "\\ProcessedScripts\\" + name, content);
    return "HTTP@#@" + name + "@#@" + md5Hex(content);
}

void E2EMachine::writeJobs(const std::vector<std::string>& jobs, const std::string& action) {
    std::string xml = "<?xml version=\"1.0\"?>\r\n<root>\r\n";
    for (const auto& j : jobs) xml += "<item>" + j + "</item>\r\n";
    xml += "</root>\r\n";
    sandbox.writeFile("C:\\Agent\\kHVR\\Tellix\\" + action + "\\KRNScripts.xml", xml);
}

std::string E2EMachine::job(const std::string& scriptId, const std::string& executeScript, const std::string& minutes,
                            const std::string& context, const std::string& params) {
    return "11%@%3%@%" + scriptId + "%@%1%@%" + executeScript + "%@%%@%" + minutes + "%@%1%@%" + context + "%@%" +
           params;
}

int E2EMachine::run(const std::string& commandLine) { return finish(start(commandLine)); }

pid_t E2EMachine::start(const std::string& commandLine) {
    const std::string program = std::string(VORBEX_BINARY_DIR) + "/vorbex";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("VORBEX_MACHINE", sandbox.root().c_str(), 1);
        if (commandLine.empty()) {
            ::execl(program.c_str(), "vorbex", static_cast<char*>(nullptr));
        } else {
            ::execl(program.c_str(), "vorbex", commandLine.c_str(), static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    return pid;
}

int E2EMachine::finish(pid_t pid) {
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string E2EMachine::runLog() const {
    const fs::path folder = sandbox.hostPath("C:\\Agent\\ApplicationLog\\kHVRLog");
    fs::path newest;
    if (!fs::exists(folder)) return "";
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (newest.empty() || entry.path().filename() > newest.filename()) newest = entry.path();
    }
    std::ifstream in(newest, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

void appendMessages(const std::string& log, std::vector<std::string>& out) {
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto tab = line.find('\t');
        out.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
}

}  // namespace

std::vector<std::string> E2EMachine::logMessages() const {
    std::vector<std::string> out;
    appendMessages(runLog(), out);
    return out;
}

std::vector<std::string> E2EMachine::allLogMessages() const {
    std::vector<std::string> out;
    const fs::path folder = sandbox.hostPath("C:\\Agent\\ApplicationLog\\kHVRLog");
    if (!fs::exists(folder)) return out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        appendMessages(s.str(), out);
    }
    return out;
}

std::vector<std::string> E2EMachine::drops() const {
    std::vector<std::string> names;
    const fs::path folder = sandbox.hostPath("C:\\Agent\\HVRPostLogs");
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string E2EMachine::readDrop(const std::string& name) const {
    return sandbox.readFile("C:\\Agent\\HVRPostLogs\\" + name);
}
