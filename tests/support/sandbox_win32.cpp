// The Win32 half of the test support: the machine's own drive C: and registry,
// put back as they were around each sandbox.
// May contain: what test_support.h leaves to the backend, for Win32 only.
#include "test_support.h"

#include "platform/win32/paths.h"
#include "platform/win32/windows.h"
#include <wincrypt.h>

#include "tests/support/win32/standard_handles.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

// Before any test starts a process (see standard_handles.h).
const bool kStandardHandlesKept = (keepStandardHandlesFromChildren(), true);

// The folders whose new entries a sandbox removes: every Windows path the
// logic tests use lies below one of them.
std::vector<std::string> watchedFolders() { return {"C:", programFilesFolder()}; }

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string tempFile(const char* name) {
    char base[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary folder");
    std::string path(base, n);
    if (path.back() != '\\') path += '\\';
    return path + name;
}

bool readWhole(const std::string& path, std::string& bytes) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char block[65536];
    DWORD got = 0;
    while (::ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
    ::CloseHandle(file);
    return true;
}

void writeWhole(const std::string& path, const std::string& bytes, DWORD disposition = CREATE_ALWAYS) {
    const HANDLE file = ::CreateFileA(path.c_str(), disposition == OPEN_ALWAYS ? FILE_APPEND_DATA : GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!ok || written != bytes.size()) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    const HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(folder + "\\" + name);
    } while (::FindNextFileA(find, &found));
    ::FindClose(find);
    return names;
}

// Removes a file, or a folder with everything below it; read-only entries too.
// A link to a folder is removed as the link, never followed.
void removeTree(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileA(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const auto& entry : entriesOf(path)) removeTree(entry);
    }
    ::RemoveDirectoryA(path.c_str());
}

void makeFolders(const std::string& path) {
    std::string prefix;
    for (std::size_t at = 0; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '\\') {
            // Drive letters and doubled separators are not folders to make.
            if (!prefix.empty() && prefix.back() != ':' && prefix.back() != '\\') ::CreateDirectoryA(prefix.c_str(), nullptr);
        }
        if (at < path.size()) prefix += path[at];
    }
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The registry keys (below HKEY_LOCAL_MACHINE) that sandboxes made, one a line.
std::string keysFile() { return tempFile("vorbex-sandbox-keys.txt"); }

// The keys are written in the view the program reads, the 32-bit one, on
// either build.
constexpr REGSAM kView = KEY_WOW64_32KEY;

void removeWrittenKeys() {
    std::string text;
    if (!readWhole(keysFile(), text)) return;
    for (const auto& key : linesOf(text)) {
        if (key.empty()) continue;
        HKEY opened = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | kView, &opened) == ERROR_SUCCESS) {
            ::RegDeleteTreeA(opened, nullptr);
            ::RegCloseKey(opened);
        }
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), kView, 0);
    }
    ::DeleteFileA(keysFile().c_str());
}

// Puts drive C: and the registry back as the first sandbox found them.
void restoreMachine() {
    removeWrittenKeys();
    const std::string baselineFile = tempFile("vorbex-sandbox-baseline.txt");
    std::string text;
    if (!readWhole(baselineFile, text)) {
        std::string listing;
        for (const std::string& folder : watchedFolders()) {
            for (const auto& entry : entriesOf(folder)) listing += upper(entry) + "\r\n";
        }
        writeWhole(baselineFile, listing);
        return;
    }
    std::set<std::string> baseline;
    for (const auto& line : linesOf(text)) baseline.insert(line);
    for (const std::string& folder : watchedFolders()) {
        for (const auto& entry : entriesOf(folder)) {
            if (!baseline.count(upper(entry))) removeTree(entry);
        }
    }
}

// A quoted text of the export format, "\\" and "\"" escaped; `at` is on the
// opening quote and ends past the closing one.
std::string quoted(const std::string& line, std::size_t& at) {
    if (at >= line.size() || line[at] != '"') throw std::runtime_error("registry text: quote expected: " + line);
    std::string text;
    for (++at; at < line.size(); ++at) {
        if (line[at] == '"') {
            ++at;
            return text;
        }
        if (line[at] == '\\' && at + 1 < line.size()) ++at;
        text += line[at];
    }
    throw std::runtime_error("registry text: unterminated quote: " + line);
}

HKEY createKey(const std::string& path) {
    // The first component that does not exist yet is what the sandbox must remove.
    std::string prefix;
    for (std::size_t at = 0; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '\\') {
            HKEY probe = nullptr;
            if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, KEY_READ | kView, &probe) == ERROR_SUCCESS) {
                ::RegCloseKey(probe);
            } else {
                writeWhole(keysFile(), prefix + "\r\n", OPEN_ALWAYS);
                break;
            }
        }
        if (at < path.size()) prefix += path[at];
    }
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | kView, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create registry key " + path);
    }
    return key;
}

}  // namespace

bool onPosixBackend() { return false; }

std::string programFilesFolder() { return Win32Paths().ProgramFilesFolder(); }

Sandbox::Sandbox() : root_("C:\\") { restoreMachine(); }

Sandbox::~Sandbox() {
    try {
        restoreMachine();
    } catch (const std::exception&) {
        // The next sandbox tries again.
    }
}

std::string Sandbox::hostPath(const std::string& windowsPath) const { return windowsPath; }

void Sandbox::writeFile(const std::string& windowsPath, const std::string& bytes) const {
    makeFolders(parentOf(windowsPath));
    writeWhole(windowsPath, bytes);
}

std::string Sandbox::readFile(const std::string& windowsPath) const {
    std::string bytes;
    readWhole(windowsPath, bytes);
    return bytes;
}

bool Sandbox::exists(const std::string& windowsPath) const {
    return ::GetFileAttributesA(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Sandbox::makeFolder(const std::string& windowsPath) const { makeFolders(windowsPath); }

void Sandbox::writeRegistry(const std::string& body) const {
    removeWrittenKeys();
    const std::string hive = "HKEY_LOCAL_MACHINE\\";
    HKEY key = nullptr;
    const std::vector<std::string> lines = linesOf(body);
    for (std::size_t index = 0; index < lines.size(); ++index) {
        std::string line = lines[index];
        if (line.empty()) continue;
        // A list of bytes goes on over lines that end in "\".
        while (line.back() == '\\' && line.find("=hex") != std::string::npos && index + 1 < lines.size()) {
            line.pop_back();
            const std::string& next = lines[++index];
            line += next.substr(std::min(next.find_first_not_of(' '), next.size()));
        }
        if (line.front() == '[') {
            if (key != nullptr) ::RegCloseKey(key);
            key = nullptr;
            if (line.back() != ']' || upper(line.substr(1, hive.size())) != hive) {
                throw std::runtime_error("registry text: only keys of HKEY_LOCAL_MACHINE: " + line);
            }
            key = createKey(line.substr(1 + hive.size(), line.size() - 2 - hive.size()));
            continue;
        }
        if (key == nullptr) throw std::runtime_error("registry text: a value outside a key: " + line);
        std::size_t at = 0;
        // "@" names the key's default value.
        const std::string name = line.front() == '@' ? (++at, std::string()) : quoted(line, at);
        if (at >= line.size() || line[at] != '=') throw std::runtime_error("registry text: '=' expected: " + line);
        ++at;
        LONG rc = ERROR_INVALID_DATA;
        if (line.compare(at, 3, "hex") == 0) {
            // "hex:" binary or "hex(<type>):" and the bytes as they are stored
            // (UTF-16 for the string types, as the registry keeps them).
            DWORD type = REG_BINARY;
            std::size_t colon = line.find(':', at);
            if (colon == std::string::npos) throw std::runtime_error("registry text: ':' expected: " + line);
            if (line[at + 3] == '(') type = static_cast<DWORD>(std::stoul(line.substr(at + 4), nullptr, 16));
            std::string bytes;
            for (std::size_t pos = colon + 1; pos < line.size();) {
                const std::size_t comma = std::min(line.find(',', pos), line.size());
                bytes += static_cast<char>(std::stoul(line.substr(pos, comma - pos), nullptr, 16));
                pos = comma + 1;
            }
            rc = ::RegSetValueExW(key, std::wstring(name.begin(), name.end()).c_str(), 0, type,
                                  reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
        } else if (line.compare(at, 6, "dword:") == 0) {
            const DWORD number = static_cast<DWORD>(std::stoul(line.substr(at + 6), nullptr, 16));
            rc = ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                  sizeof number);
        } else {
            const std::string text = quoted(line, at);
            rc = ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>(text.size() + 1));
        }
        if (rc != ERROR_SUCCESS) throw std::runtime_error("registry text: cannot set " + line);
    }
    if (key != nullptr) ::RegCloseKey(key);
}

bool setFileTime(const std::string& hostPath, const LocalTime& t) {
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(t.year);
    local.wMonth = static_cast<WORD>(t.month);
    local.wDay = static_cast<WORD>(t.day);
    local.wHour = static_cast<WORD>(t.hour);
    local.wMinute = static_cast<WORD>(t.minute);
    local.wSecond = static_cast<WORD>(t.second);
    SYSTEMTIME utc{};
    FILETIME stamp{};
    // The inverse of how the file system reports a creation date in local time.
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !::SystemTimeToFileTime(&utc, &stamp)) return false;
    const HANDLE file =
        ::CreateFileA(hostPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = ::SetFileTime(file, &stamp, &stamp, &stamp);
    ::CloseHandle(file);
    return ok != FALSE;
}

std::string systemMd5Hex(const std::string& bytes) {
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return "";
    std::string hex;
    HCRYPTHASH hash = 0;
    if (::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        BYTE digest[16];
        DWORD length = sizeof digest;
        if (::CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
            ::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
            for (DWORD i = 0; i < length; ++i) {
                hex += "0123456789abcdef"[digest[i] >> 4];
                hex += "0123456789abcdef"[digest[i] & 15];
            }
        }
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return hex;
}
