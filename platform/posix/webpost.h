// The posix webpost library: posts records over HTTP(S) with libcurl.
// May contain: libcurl calls, nothing Windows-specific.
#pragma once

#include <string>

#include "platform/webpost.h"

/// Settings of the posix webpost library. The defaults are the production
/// values; tests shorten the time-outs.
struct PosixWebpostOptions {
    /// Longest wait for the connection (TCP and TLS handshake), milliseconds.
    long connectTimeoutMs = 30000;
    /// Longest time for the whole post, milliseconds.
    long totalTimeoutMs = 120000;
    /// A PEM file of CA certificates to trust instead of the system's store.
    /// Empty (the default) means the system's store. Verification of the
    /// server's certificate and host name is never switched off.
    std::string caBundle;
};

/// CreateObject knows the one class "kWbPost.WebPost" (letter case ignored, as
/// COM class names are); any other name raises err::CannotCreate. Its objects POST the XML
/// as the request body with Content-Type text/xml and succeed only on an HTTP
/// 2xx answer, whose body becomes the response text. Registration is not
/// needed here and Register always reports success.
class PosixWebpostLibrary : public WebpostLibrary {
public:
    PosixWebpostLibrary();
    explicit PosixWebpostLibrary(PosixWebpostOptions options);
    std::unique_ptr<WebpostObject> CreateObject(const std::string& className) override;
    bool Register(const std::string& libraryPath) override;

private:
    PosixWebpostOptions options_;
};

/// The URL as libcurl can send it: bytes that may not stand in a request line
/// (controls, blanks, non-ASCII) and "#" (which would cut the URL short) are
/// percent-encoded; every other byte, "&" and "%" included, is kept as it is.
std::string transportUrl(const std::string& url);
