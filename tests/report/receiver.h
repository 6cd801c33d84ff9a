// Test helpers of the report tests: the webpost receiver as a child process,
// a certificate made for one test, a loopback port where nobody listens
// (posix_receiver.cpp, posix only), and a webpost library that records its
// calls instead of posting (fake_webpost.cpp, every build).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/webpost.h"

/// A running webpost-receiver on 127.0.0.1 (the built tool). Stopped, by its
/// own process id, when this object goes.
class Receiver {
public:
    /// Starts the receiver with these extra options (for example "--status", "500").
    explicit Receiver(const std::vector<std::string>& options = {});
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    bool started() const { return port_ > 0; }
    int port() const { return port_; }
    /// "http://127.0.0.1:<port>" (or https), without a final "/".
    std::string base(bool https = false) const;
    /// The posts received so far: "<path>?<query>" TAB "<body>", one per post.
    std::vector<std::string> posts() const;

private:
    std::string folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

/// A self-signed certificate for 127.0.0.1 and its key, in a fresh folder.
struct TestCertificate {
    TestCertificate();
    ~TestCertificate();
    std::string folder, cert, key;
    bool made = false;
};

/// A loopback port on which nothing listens (bound once, then released).
int unusedLoopbackPort();

/// One call of PostXMLString as the fake saw it.
struct FakePost {
    std::string xml, url, text4, text5;
    bool flag = true;
};

/// A webpost library that records what it is asked. `creatable` false makes
/// CreateObject raise `createError` until Register has been called
/// `healedByRegister` (then it works) or always (when not healed).
class FakeWebpostLibrary : public WebpostLibrary {
public:
    bool accept = true;                // PostXMLString's result
    std::string response = "Accepted"; // the response text handed back
    bool creatable = true;
    long createError = 429;
    bool healedByRegister = false;
    bool registerStarts = true;        // Register's result

    int creates = 0;
    int registers = 0;
    std::vector<std::string> registeredPaths;
    std::vector<FakePost> posts;

    std::unique_ptr<WebpostObject> CreateObject(const std::string& className) override;
    bool Register(const std::string& libraryPath) override;
};
