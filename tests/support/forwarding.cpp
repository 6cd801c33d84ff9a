// The forwarding wrappers of the platform interfaces and their fail switch.
// May contain: forwarding and the failures the switch makes; nothing of one backend.
#include "forwarding.h"

#include <stdexcept>

#include "base/errors.h"
#include "base/text.h"

namespace {

// Access denied: the code a system call gives most often when it refuses.
constexpr long kRefused = 5;

std::string failedText(long error) { return "failed on purpose: " + std::to_string(error); }

}  // namespace

// ---- the switch ----

FailSwitch::FailSwitch(std::initializer_list<const char*> canFail) : canFail_(canFail.begin(), canFail.end()) {}

void FailSwitch::failCall(const std::string& call, const CallFault& fault) {
    bool known = false;
    std::string names;
    for (const auto& name : canFail_) {
        known = known || name == call;
        names += " " + name;
    }
    if (!known) throw std::invalid_argument("no call \"" + call + "\" that can fail here; these can:" + names);
    if (fault.nth_ < 1 || fault.times_ < 1) throw std::invalid_argument("a fault needs nth and times of 1 or more");
    std::lock_guard lock(mutex_);
    armed_[call].push_back(Armed{fault, fault.nth_ - 1});
}

int FailSwitch::calls(std::string_view call) const {
    std::lock_guard lock(mutex_);
    const auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

std::map<std::string, int, std::less<>> FailSwitch::callCounts() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FailSwitch::count(std::string_view call) {
    std::lock_guard lock(mutex_);
    const auto it = calls_.find(call);
    if (it != calls_.end()) ++it->second;
    else calls_.emplace(std::string(call), 1);
}

long FailSwitch::due(std::string_view call, long usual, std::initializer_list<std::string_view> paths) {
    count(call);
    std::lock_guard lock(mutex_);
    const auto it = armed_.find(call);
    if (it == armed_.end()) return 0;
    long error = 0;
    // Every fault that matches counts this call, whether or not an earlier
    // one already fails it, so that each keeps its own count.
    for (auto& armed : it->second) {
        CallFault& fault = armed.fault;
        if (fault.times_ == 0) continue;
        bool matches = fault.pathPart_.empty();
        for (const auto path : paths) matches = matches || containsNoCase(path, fault.pathPart_);
        if (!matches) continue;
        if (armed.skip > 0) {
            --armed.skip;
            continue;
        }
        if (fault.times_ != CallFault::kAlways) --fault.times_;
        if (error == 0) error = fault.error_ != 0 ? fault.error_ : usual;
    }
    return error;
}

// ---- file system ----

/// A stream of the real file system, failing under its file system's switch.
class ForwardingFileSystem::Stream : public TextStream {
public:
    Stream(ForwardingFileSystem& owner, std::unique_ptr<TextStream> real, std::string path)
        : owner_(owner), real_(std::move(real)), path_(std::move(path)) {}
    bool AtEndOfStream() override {
        owner_.count("AtEndOfStream");
        return real_->AtEndOfStream();
    }
    std::string ReadLine() override {
        owner_.raiseIfDue("ReadLine", {path_});
        return real_->ReadLine();
    }
    std::size_t ReadLines(std::string_view* lines, std::size_t max) override {
        owner_.raiseIfDue("ReadLines", {path_});
        return real_->ReadLines(lines, max);
    }
    bool ReadView(std::string_view& bytes) override {
        owner_.raiseIfDue("ReadView", {path_});
        return real_->ReadView(bytes);
    }
    std::string ReadAll() override {
        owner_.raiseIfDue("ReadAll", {path_});
        return real_->ReadAll();
    }
    void Write(const std::string& text) override {
        owner_.raiseIfDue("Write", {path_});
        real_->Write(text);
    }
    void WriteLine(const std::string& text) override {
        owner_.raiseIfDue("WriteLine", {path_});
        real_->WriteLine(text);
    }
    void WriteLines(const std::vector<std::string>& texts) override {
        owner_.raiseIfDue("WriteLines", {path_});
        real_->WriteLines(texts);
    }
    void Close() override {
        owner_.raiseIfDue("Close", {path_});
        real_->Close();
    }

private:
    ForwardingFileSystem& owner_;
    std::unique_ptr<TextStream> real_;
    std::string path_;
};

ForwardingFileSystem::ForwardingFileSystem(FileSystem& real)
    : FailSwitch({"FolderExists", "FileExists", "CreateFolder", "CreateTextFile", "OpenTextFile", "CopyFile",
                  "MoveFile", "DeleteFile", "PlaceNewFile", "GetFileSize", "GetFileVersion", "GetFiles", "SetReadOnly",
                  "OpenSharedLog", "FileExistsInside", "OpenInside", "DeleteInside",
                  "HoldFile", "ReadLine", "ReadLines", "ReadView", "ReadAll", "Write", "WriteLine", "WriteLines",
                  "Close"}),
      real_(real) {}

void ForwardingFileSystem::raiseIfDue(std::string_view call, std::initializer_list<std::string_view> paths) {
    if (const long error = due(call, err::PermissionDenied, paths)) throw runError(error);
}

std::unique_ptr<TextStream> ForwardingFileSystem::wrapped(std::unique_ptr<TextStream> stream,
                                                          const std::string& path) {
    if (!stream) return stream;
    return std::make_unique<Stream>(*this, std::move(stream), path);
}

bool ForwardingFileSystem::FolderExists(const std::string& path) {
    return due("FolderExists", err::PermissionDenied, {path}) == 0 && real_.FolderExists(path);
}
bool ForwardingFileSystem::FileExists(const std::string& path) {
    return due("FileExists", err::PermissionDenied, {path}) == 0 && real_.FileExists(path);
}
void ForwardingFileSystem::CreateFolder(const std::string& path) {
    raiseIfDue("CreateFolder", {path});
    real_.CreateFolder(path);
}
std::unique_ptr<TextStream> ForwardingFileSystem::CreateTextFile(const std::string& path, bool overwrite) {
    raiseIfDue("CreateTextFile", {path});
    return wrapped(real_.CreateTextFile(path, overwrite), path);
}
std::unique_ptr<TextStream> ForwardingFileSystem::OpenTextFile(const std::string& path, IOMode mode, bool create) {
    raiseIfDue("OpenTextFile", {path});
    return wrapped(real_.OpenTextFile(path, mode, create), path);
}
void ForwardingFileSystem::CopyFile(const std::string& source, const std::string& target, bool overwrite) {
    raiseIfDue("CopyFile", {source, target});
    real_.CopyFile(source, target, overwrite);
}
void ForwardingFileSystem::MoveFile(const std::string& source, const std::string& target, bool replace) {
    raiseIfDue("MoveFile", {source, target});
    real_.MoveFile(source, target, replace);
}
void ForwardingFileSystem::DeleteFile(const std::string& path, bool force) {
    raiseIfDue("DeleteFile", {path});
    real_.DeleteFile(path, force);
}
void ForwardingFileSystem::PlaceNewFile(const std::string& partial, const std::string& target,
                                        const std::string& text) {
    raiseIfDue("PlaceNewFile", {partial, target});
    real_.PlaceNewFile(partial, target, text);
}
std::uint64_t ForwardingFileSystem::GetFileSize(const std::string& path) {
    raiseIfDue("GetFileSize", {path});
    return real_.GetFileSize(path);
}
std::string ForwardingFileSystem::GetFileVersion(const std::string& path) {
    raiseIfDue("GetFileVersion", {path});
    return real_.GetFileVersion(path);
}
std::vector<FileEntry> ForwardingFileSystem::GetFiles(const std::string& folder, const FileQuery& query) {
    raiseIfDue("GetFiles", {folder});
    return real_.GetFiles(folder, query);
}
void ForwardingFileSystem::SetReadOnly(const std::string& path, bool readOnly) {
    raiseIfDue("SetReadOnly", {path});
    real_.SetReadOnly(path, readOnly);
}
std::unique_ptr<TextStream> ForwardingFileSystem::OpenSharedLog(const std::string& path, std::uint64_t restartSize) {
    raiseIfDue("OpenSharedLog", {path});
    return wrapped(real_.OpenSharedLog(path, restartSize), path);
}
bool ForwardingFileSystem::FileExistsInside(const std::string& folder, const std::string& path) {
    raiseIfDue("FileExistsInside", {folder, path});
    return real_.FileExistsInside(folder, path);
}
std::unique_ptr<TextStream> ForwardingFileSystem::OpenInside(const std::string& folder, const std::string& path) {
    raiseIfDue("OpenInside", {folder, path});
    return wrapped(real_.OpenInside(folder, path), path);
}
void ForwardingFileSystem::DeleteInside(const std::string& folder, const std::string& path, bool force) {
    raiseIfDue("DeleteInside", {folder, path});
    real_.DeleteInside(folder, path, force);
}
std::unique_ptr<FileHold> ForwardingFileSystem::HoldFile(const std::string& path) {
    raiseIfDue("HoldFile", {path});
    return real_.HoldFile(path);
}

// ---- registry ----

ForwardingRegistry::ForwardingRegistry(Registry& real)
    : FailSwitch({"OpenKey", "QueryValue", "CloseKey"}), real_(real) {}

long ForwardingRegistry::OpenKey(RegHandle hive, const std::string& subkey, std::uint32_t access, RegHandle& key) {
    if (const long error = due("OpenKey", kRefused, {subkey})) return error;
    return real_.OpenKey(hive, subkey, access, key);
}
long ForwardingRegistry::QueryValue(RegHandle key, const std::string& name, std::uint32_t* type, char* data,
                                    std::uint32_t* size) {
    if (const long error = due("QueryValue", kRefused, {name})) return error;
    return real_.QueryValue(key, name, type, data, size);
}
long ForwardingRegistry::CloseKey(RegHandle key) {
    if (const long error = due("CloseKey", kRefused)) return error;
    return real_.CloseKey(key);
}

// ---- profile files ----

ForwardingProfileFiles::ForwardingProfileFiles(ProfileFiles& real)
    : FailSwitch({"GetString", "GetInt", "WriteString", "WriteStrings"}), real_(real) {}

std::string ForwardingProfileFiles::GetString(const std::string& section, const std::string& key,
                                              const std::string& defaultValue, std::uint32_t bufferChars,
                                              const std::string& file) {
    if (due("GetString", kRefused, {file})) return defaultValue;
    return real_.GetString(section, key, defaultValue, bufferChars, file);
}
std::int32_t ForwardingProfileFiles::GetInt(const std::string& section, const std::string& key,
                                            std::int32_t defaultValue, const std::string& file) {
    if (due("GetInt", kRefused, {file})) return defaultValue;
    return real_.GetInt(section, key, defaultValue, file);
}
bool ForwardingProfileFiles::WriteString(const std::string& section, const std::string& key,
                                         const std::string& value, const std::string& file) {
    return due("WriteString", kRefused, {file}) == 0 && real_.WriteString(section, key, value, file);
}
std::vector<bool> ForwardingProfileFiles::WriteStrings(const std::vector<ProfileEntry>& entries,
                                                       const std::string& file) {
    if (due("WriteStrings", kRefused, {file})) return std::vector<bool>(entries.size(), false);
    return real_.WriteStrings(entries, file);
}
std::unique_ptr<ProfileSection> ForwardingProfileFiles::OpenSection(const std::string& section,
                                                                    const std::string& file) {
    count("OpenSection");
    return real_.OpenSection(section, file);
}

// ---- paths ----

ForwardingPaths::ForwardingPaths(Paths& real) : FailSwitch({"ProgramFilesFolder", "ShortPath"}), real_(real) {}

std::string ForwardingPaths::ProgramFilesFolder() {
    return due("ProgramFilesFolder", kRefused) ? std::string() : real_.ProgramFilesFolder();
}
std::string ForwardingPaths::ShortPath(const std::string& path) {
    return due("ShortPath", kRefused, {path}) ? std::string() : real_.ShortPath(path);
}

// ---- clock ----

ForwardingClock::ForwardingClock(Clock& real) : FailSwitch(std::initializer_list<const char*>{}), real_(real) {}

LocalTime ForwardingClock::now() {
    count("now");
    return real_.now();
}
void ForwardingClock::sleepMs(std::uint32_t milliseconds) {
    count("sleepMs");
    real_.sleepMs(milliseconds);
}
std::int64_t ForwardingClock::bootMs() {
    count("bootMs");
    return real_.bootMs();
}
std::string ForwardingClock::bootId() {
    count("bootId");
    return real_.bootId();
}

// ---- host ----

ForwardingHost::ForwardingHost(Host& real) : FailSwitch({"SystemMessage"}), real_(real) {}

std::string ForwardingHost::CommandLine() {
    count("CommandLine");
    return real_.CommandLine();
}
std::string ForwardingHost::ExeFolder() {
    count("ExeFolder");
    return real_.ExeFolder();
}
std::string ForwardingHost::ExeBaseName() {
    count("ExeBaseName");
    return real_.ExeBaseName();
}
void ForwardingHost::HideFromTaskList() {
    count("HideFromTaskList");
    real_.HideFromTaskList();
}
std::string ForwardingHost::SystemMessage(long code) {
    return due("SystemMessage", kRefused) ? std::string() : real_.SystemMessage(code);
}
std::uint32_t ForwardingHost::ProcessId() {
    count("ProcessId");
    return real_.ProcessId();
}

// ---- processes ----

ForwardingProcesses::ForwardingProcesses(Processes& real)
    : FailSwitch({"CreateToolhelp32Snapshot", "Process32First", "Process32Next", "OpenProcess", "OpenProcessToken",
                  "ImpersonateLoggedOnUser", "RevertToSelf", "CreateEnvironmentBlock", "DestroyEnvironmentBlock",
                  "CreateProcessAsUser", "CreateProcess", "WaitForSingleObject", "GetExitCodeProcess",
                  "TerminateProcess", "CloseHandle"}),
      real_(real) {}

bool ForwardingProcesses::failing(std::string_view call, std::initializer_list<std::string_view> paths) {
    const long error = due(call, kRefused, paths);
    if (error == 0) return false;
    std::lock_guard lock(errorMutex_);
    injected_ = error;
    return true;
}

template <class T>
T ForwardingProcesses::answered(T result, bool failed) {
    if (failed) {
        std::lock_guard lock(errorMutex_);
        injected_ = 0;
    }
    return result;
}

ProcHandle ForwardingProcesses::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    if (failing("CreateToolhelp32Snapshot")) return 0;
    const ProcHandle h = real_.CreateToolhelp32Snapshot(flags, processId);
    return answered(h, h == 0);
}
bool ForwardingProcesses::Process32First(ProcHandle snapshot, ProcessEntry& entry) {
    if (failing("Process32First")) return false;
    const bool ok = real_.Process32First(snapshot, entry);
    return answered(ok, !ok);
}
bool ForwardingProcesses::Process32Next(ProcHandle snapshot, ProcessEntry& entry) {
    if (failing("Process32Next")) return false;
    const bool ok = real_.Process32Next(snapshot, entry);
    return answered(ok, !ok);
}
ProcHandle ForwardingProcesses::OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) {
    if (failing("OpenProcess")) return 0;
    const ProcHandle h = real_.OpenProcess(access, inheritHandle, processId);
    return answered(h, h == 0);
}
bool ForwardingProcesses::OpenProcessToken(ProcHandle process, std::uint32_t access, ProcHandle& token) {
    if (failing("OpenProcessToken")) return false;
    const bool ok = real_.OpenProcessToken(process, access, token);
    return answered(ok, !ok);
}
bool ForwardingProcesses::ImpersonateLoggedOnUser(ProcHandle token) {
    if (failing("ImpersonateLoggedOnUser")) return false;
    const bool ok = real_.ImpersonateLoggedOnUser(token);
    return answered(ok, !ok);
}
bool ForwardingProcesses::RevertToSelf() {
    if (failing("RevertToSelf")) return false;
    const bool ok = real_.RevertToSelf();
    return answered(ok, !ok);
}
bool ForwardingProcesses::CreateEnvironmentBlock(EnvBlock& block, ProcHandle token, bool inherit) {
    if (failing("CreateEnvironmentBlock")) return false;
    const bool ok = real_.CreateEnvironmentBlock(block, token, inherit);
    return answered(ok, !ok);
}
bool ForwardingProcesses::DestroyEnvironmentBlock(EnvBlock block) {
    if (failing("DestroyEnvironmentBlock")) return false;
    const bool ok = real_.DestroyEnvironmentBlock(block);
    return answered(ok, !ok);
}
EnvBlock ForwardingProcesses::EmptyEnvironmentBlock() {
    count("EmptyEnvironmentBlock");
    return real_.EmptyEnvironmentBlock();
}
bool ForwardingProcesses::CreateProcessAsUser(ProcHandle token, const std::string* applicationName,
                                              const std::string& commandLine, bool inheritHandles,
                                              std::uint32_t flags, EnvBlock environment,
                                              const std::string* currentDirectory, const StartupInfo& startup,
                                              ProcessInformation& info) {
    if (failing("CreateProcessAsUser", {commandLine})) return false;
    const bool ok = real_.CreateProcessAsUser(token, applicationName, commandLine, inheritHandles, flags, environment,
                                              currentDirectory, startup, info);
    return answered(ok, !ok);
}
bool ForwardingProcesses::CreateProcess(const std::string* applicationName, const std::string& commandLine,
                                        bool inheritHandles, std::uint32_t flags, EnvBlock environment,
                                        const std::string* currentDirectory, const StartupInfo& startup,
                                        ProcessInformation& info) {
    if (failing("CreateProcess", {commandLine})) return false;
    const bool ok = real_.CreateProcess(applicationName, commandLine, inheritHandles, flags, environment,
                                        currentDirectory, startup, info);
    return answered(ok, !ok);
}
std::uint32_t ForwardingProcesses::WaitForSingleObject(ProcHandle process, std::uint32_t milliseconds) {
    if (failing("WaitForSingleObject")) return proc::WAIT_FAILED;
    const std::uint32_t result = real_.WaitForSingleObject(process, milliseconds);
    return answered(result, result == proc::WAIT_FAILED);
}
bool ForwardingProcesses::GetExitCodeProcess(ProcHandle process, std::uint32_t& exitCode) {
    if (failing("GetExitCodeProcess")) return false;
    const bool ok = real_.GetExitCodeProcess(process, exitCode);
    return answered(ok, !ok);
}
bool ForwardingProcesses::TerminateProcess(ProcHandle process, std::uint32_t exitCode) {
    if (failing("TerminateProcess")) return false;
    const bool ok = real_.TerminateProcess(process, exitCode);
    return answered(ok, !ok);
}
bool ForwardingProcesses::IsTreeContained(ProcHandle process) {
    count("IsTreeContained");
    return real_.IsTreeContained(process);
}
std::uint32_t ForwardingProcesses::TerminateSurvivors() {
    count("TerminateSurvivors");
    return real_.TerminateSurvivors();
}
bool ForwardingProcesses::CloseHandle(ProcHandle handle) {
    if (failing("CloseHandle")) return false;
    const bool ok = real_.CloseHandle(handle);
    return answered(ok, !ok);
}
long ForwardingProcesses::GetLastError() {
    count("GetLastError");
    {
        std::lock_guard lock(errorMutex_);
        if (injected_ != 0) return injected_;
    }
    return real_.GetLastError();
}

// ---- desktop ----

ForwardingDesktop::ForwardingDesktop(Desktop& real)
    : FailSwitch({"OpenDesktop", "SwitchDesktop", "CloseDesktop"}), real_(real) {}

DeskHandle ForwardingDesktop::OpenDesktop(const std::string& name, std::uint32_t access) {
    injected_ = due("OpenDesktop", kRefused, {name});
    return injected_ != 0 ? 0 : real_.OpenDesktop(name, access);
}
bool ForwardingDesktop::SwitchDesktop(DeskHandle desktop) {
    injected_ = due("SwitchDesktop", kRefused);
    return injected_ == 0 && real_.SwitchDesktop(desktop);
}
bool ForwardingDesktop::CloseDesktop(DeskHandle desktop) {
    injected_ = due("CloseDesktop", kRefused);
    return injected_ == 0 && real_.CloseDesktop(desktop);
}
long ForwardingDesktop::GetLastError() {
    count("GetLastError");
    return injected_ != 0 ? injected_ : real_.GetLastError();
}

// ---- MD5 library ----

ForwardingMd5Library::ForwardingMd5Library(Md5Library& real)
    : FailSwitch({"KGetMD5", "KGetMD5WBlock"}), real_(real) {}

std::int16_t ForwardingMd5Library::KGetMD5(const std::string& path, std::string& md5, std::string& size,
                                           std::string& error) {
    if (const long code = due("KGetMD5", kRefused, {path})) {
        error = failedText(code);
        return 0;
    }
    return real_.KGetMD5(path, md5, size, error);
}
std::int16_t ForwardingMd5Library::KGetMD5WBlock(const std::string& path, const std::string& blockSize,
                                                 std::string& md5, std::string& size, std::string& error) {
    if (const long code = due("KGetMD5WBlock", kRefused, {path})) {
        error = failedText(code);
        return 0;
    }
    return real_.KGetMD5WBlock(path, blockSize, md5, size, error);
}

// ---- webpost library ----

/// An object of the real library, failing its posts under the library's switch.
class ForwardingWebpostLibrary::Object : public WebpostObject {
public:
    Object(ForwardingWebpostLibrary& owner, std::unique_ptr<WebpostObject> real)
        : owner_(owner), real_(std::move(real)) {}
    bool PostXMLString(std::string& xml, bool flag, std::string& url, const std::string& text4,
                       const std::string& text5, std::string& response, std::string& error1, std::string& error2,
                       std::string& error3) override {
        if (const long code = owner_.due("PostXMLString", kRefused, {url})) {
            error1 = failedText(code);
            return false;
        }
        return real_->PostXMLString(xml, flag, url, text4, text5, response, error1, error2, error3);
    }

private:
    ForwardingWebpostLibrary& owner_;
    std::unique_ptr<WebpostObject> real_;
};

ForwardingWebpostLibrary::ForwardingWebpostLibrary(WebpostLibrary& real)
    : FailSwitch({"CreateObject", "Register", "PostXMLString"}), real_(real) {}

std::unique_ptr<WebpostObject> ForwardingWebpostLibrary::CreateObject(const std::string& className) {
    if (const long error = due("CreateObject", err::CannotCreate, {className})) throw runError(error);
    auto object = real_.CreateObject(className);
    if (!object) return object;
    return std::make_unique<Object>(*this, std::move(object));
}
bool ForwardingWebpostLibrary::Register(const std::string& libraryPath) {
    return due("Register", kRefused, {libraryPath}) == 0 && real_.Register(libraryPath);
}

// ---- XML library ----

/// A document of the real library, failing its loads under the library's switch.
class ForwardingXmlLibrary::Document : public XmlDocument {
public:
    Document(ForwardingXmlLibrary& owner, std::unique_ptr<XmlDocument> real) : owner_(owner), real_(std::move(real)) {}
    bool Load(const std::string& path) override {
        return owner_.due("Load", kRefused, {path}) == 0 && real_->Load(path);
    }
    bool LoadBytes(const std::string& bytes) override {
        return owner_.due("LoadBytes", kRefused) == 0 && real_->LoadBytes(bytes);
    }
    std::unique_ptr<XmlNode> SelectFirstElement(const std::string& name) override {
        owner_.count("SelectFirstElement");
        return real_->SelectFirstElement(name);
    }

private:
    ForwardingXmlLibrary& owner_;
    std::unique_ptr<XmlDocument> real_;
};

ForwardingXmlLibrary::ForwardingXmlLibrary(XmlLibrary& real)
    : FailSwitch({"CreateDocument", "Load", "LoadBytes"}), real_(real) {}

std::unique_ptr<XmlDocument> ForwardingXmlLibrary::CreateDocument() {
    if (const long error = due("CreateDocument", err::CannotCreate)) throw runError(error);
    auto document = real_.CreateDocument();
    if (!document) return document;
    return std::make_unique<Document>(*this, std::move(document));
}

// ---- locks ----

ForwardingLocks::ForwardingLocks(Locks& real)
    : FailSwitch({"TryLockFile", "TryLockMachine", "MachineLockRecord"}), real_(real) {}

std::unique_ptr<HeldLock> ForwardingLocks::TryLockFile(const std::string& file) {
    if (due("TryLockFile", kRefused, {file})) return nullptr;
    return real_.TryLockFile(file);
}
std::unique_ptr<HeldLock> ForwardingLocks::TryLockMachine(const std::string& lockFile, const std::string& record) {
    if (due("TryLockMachine", kRefused, {lockFile})) return nullptr;
    return real_.TryLockMachine(lockFile, record);
}
std::string ForwardingLocks::MachineLockRecord(const std::string& lockFile) {
    if (due("MachineLockRecord", kRefused, {lockFile})) return "";
    return real_.MachineLockRecord(lockFile);
}
