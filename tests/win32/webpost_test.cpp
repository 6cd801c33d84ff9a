// The Win32 webpost backend: creation by class name, the one-time
// registration, and PostXMLString through IDispatch against the stand-in
// kWbPost.dll and a loopback HTTP endpoint.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/errors.h"
#include "raised.h"
#include "platform/win32/host.h"
#include "platform/win32/support.h"
#include "platform/win32/webpost.h"
#include "platform/win32/windows.h"
#include "win32_test_support.h"

namespace {

constexpr const char* kClass = "kWbPost.WebPost";

std::string standInLibrary() { return Win32Host().ExeFolder() + "\\kWbPost.dll"; }

// Registers the stand-in in this process, as regsvr32 would.
bool registerStandIn() {
    const HMODULE module = ::LoadLibraryA(standInLibrary().c_str());
    if (module == nullptr) return false;
    using Register = HRESULT(__stdcall*)();
    const auto entry =
        reinterpret_cast<Register>(reinterpret_cast<void*>(::GetProcAddress(module, "DllRegisterServer")));
    const bool ok = entry != nullptr && SUCCEEDED(entry());
    ::FreeLibrary(module);
    return ok;
}

void unregisterStandIn() {
    const HMODULE module = ::LoadLibraryA(standInLibrary().c_str());
    if (module == nullptr) return;
    using Unregister = HRESULT(__stdcall*)();
    const auto entry =
        reinterpret_cast<Unregister>(reinterpret_cast<void*>(::GetProcAddress(module, "DllUnregisterServer")));
    if (entry != nullptr) entry();
    ::FreeLibrary(module);
}

// A loopback HTTP endpoint that answers one request with a fixed status and
// body, and keeps the request body it got.
class OneShotServer {
public:
    OneShotServer(int status, std::string body) : status_(status), body_(std::move(body)) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        int length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~OneShotServer() {
        ::closesocket(listener_);
        thread_.join();
        ::WSACleanup();
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    const std::string& request() const { return request_; }

private:
    void serve() {
        const SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        DWORD timeout = 10000;
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        std::string received;
        char block[4096];
        std::size_t wanted = std::string::npos;
        while (received.size() < wanted) {
            const int n = ::recv(client, block, sizeof block, 0);
            if (n <= 0) break;
            received.append(block, n);
            const auto end = received.find("\r\n\r\n");
            if (wanted == std::string::npos && end != std::string::npos) {
                const auto at = received.find("Content-Length:");
                const std::size_t length = at == std::string::npos ? 0 : std::stoul(received.substr(at + 15));
                wanted = end + 4 + length;
            }
        }
        request_ = received;
        const std::string answer = "HTTP/1.1 " + std::to_string(status_) + " X\r\nContent-Length: " +
                                   std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
        ::send(client, answer.data(), static_cast<int>(answer.size()), 0);
        ::shutdown(client, SD_SEND);
        ::closesocket(client);
    }

    int status_;
    std::string body_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::string request_;
};

TEST(Win32Webpost, AnUnknownClassCannotBeCreated) {
    Win32WebpostLibrary library;
    EXPECT_EQ(errorOf([&] { library.CreateObject("Vorbex.NoSuchClass"); }), err::CannotCreate);
    EXPECT_EQ(errorOf([&] { library.CreateObject("{not a class}"); }), err::CannotCreate);
}

class Win32WebpostPost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registerStandIn()); }
    void TearDown() override { unregisterStandIn(); }

    Win32WebpostLibrary library;
};

TEST_F(Win32WebpostPost, AnAcceptedRecordReturnsTrueAndTheResponse) {
    OneShotServer server(200, "accepted");
    auto object = library.CreateObject(kClass);
    std::string xml = "<wpdcmatztempexecst><a>caf\xE9</a></wpdcmatztempexecst>";
    std::string url = server.url("/tfr_wpdcmatztempexecst.asp?mmid=7&sid=9");
    std::string response, e1 = "x", e2 = "x", e3 = "x";
    EXPECT_TRUE(object->PostXMLString(xml, false, url, "", "", response, e1, e2, e3));
    EXPECT_EQ(response, "accepted");
    EXPECT_EQ(e1 + e2 + e3, "");
    // The by-reference texts come back unchanged.
    EXPECT_EQ(xml, "<wpdcmatztempexecst><a>caf\xE9</a></wpdcmatztempexecst>");
    // The record went as the body, in the system code page, to the full URL.
    EXPECT_NE(server.request().find("POST /tfr_wpdcmatztempexecst.asp?mmid=7&sid=9 "), std::string::npos);
    EXPECT_NE(server.request().find("\r\n\r\n" + xml), std::string::npos);
}

TEST_F(Win32WebpostPost, ARefusedRecordReturnsFalseWithTheDetails) {
    OneShotServer server(500, "busy");
    auto object = library.CreateObject("KWBPOST.WEBPOST");  // class names ignore case
    std::string xml = "<r/>", url = server.url("/x.asp"), response, e1, e2, e3;
    EXPECT_FALSE(object->PostXMLString(xml, false, url, "", "", response, e1, e2, e3));
    EXPECT_FALSE(e1.empty());
    EXPECT_EQ(e2, "500");
    EXPECT_EQ(e3, url);
}

TEST_F(Win32WebpostPost, NoListenerIsAFailureNotAnError) {
    std::string url;
    {
        OneShotServer gone(200, "");
        url = gone.url("/x.asp");
        // Take the one request away so the server ends; then nothing listens.
        auto object = library.CreateObject(kClass);
        std::string xml = "<r/>", response, e1, e2, e3;
        object->PostXMLString(xml, false, url, "", "", response, e1, e2, e3);
    }
    auto object = library.CreateObject(kClass);
    std::string xml = "<r/>", response, e1, e2, e3;
    EXPECT_FALSE(object->PostXMLString(xml, false, url, "", "", response, e1, e2, e3));
    EXPECT_FALSE(e1.empty());
    EXPECT_EQ(e2, "0");
}

// The file the machine's registration of the class names; "" when none.
std::string registeredServer() {
    char clsid[64] = {};
    LONG size = sizeof clsid;
    if (::RegQueryValueA(HKEY_CLASSES_ROOT, (std::string(kClass) + "\\CLSID").c_str(), clsid, &size) != 0) return "";
    char server[MAX_PATH * 2] = {};
    size = sizeof server;
    const std::string key = std::string("CLSID\\") + clsid + "\\InprocServer32";
    if (::RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), server, &size) != 0) return "";
    return server;
}

TEST(Win32WebpostRegister, ALibraryInAFolderWithABlankIsRegisteredByItsWholePath) {
    unregisterStandIn();
    TempFolder dir;
    const std::string folder = dir / "Agent Files";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string library = folder + "\\kWbPost.dll";
    ASSERT_TRUE(::CopyFileA(standInLibrary().c_str(), library.c_str(), FALSE));
    ASSERT_TRUE(Win32WebpostLibrary().Register(library));
    std::string server;
    for (int i = 0; i < 100 && server.empty(); ++i) {
        ::Sleep(100);
        server = registeredServer();
    }
    unregisterStandIn();
    EXPECT_EQ(::lstrcmpiA(server.c_str(), library.c_str()), 0) << server;
}

TEST(Win32WebpostRegister, RegistrationRunsRegsvr32WithoutWaiting) {
    unregisterStandIn();
    Win32WebpostLibrary library;
    ASSERT_EQ(errorOf([&] { library.CreateObject(kClass); }), err::CannotCreate);
    ASSERT_TRUE(library.Register(standInLibrary()));
    // The registration finishes on its own time.
    long error = err::CannotCreate;
    for (int i = 0; i < 100 && error != 0; ++i) {
        ::Sleep(100);
        error = errorOf([&] { library.CreateObject(kClass); });
    }
    EXPECT_EQ(error, 0);
    unregisterStandIn();
}

// The hidden start the registration goes through: 0 once the program runs,
// the system's error code when it cannot be started.
TEST(Win32WebpostRegister, TheHiddenStartReportsWhetherTheProgramStarted) {
    TempFolder dir;
    EXPECT_NE(win32::startHidden("\"" + (dir / "missing.exe") + "\" -s x"), 0u);
    EXPECT_EQ(win32::startHidden(helperCommandLine("exit", "0")), 0u);
}

}  // namespace
