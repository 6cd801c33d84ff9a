// The agent's webpost library: a component created by class name whose one
// method posts an XML record to a URL. On Windows it is a COM class reached by
// late binding; elsewhere a backend posts the record itself.
// May contain: the interface only, no system calls.
#pragma once

#include <memory>
#include <string>

/// One created webpost object (CreateObject("kWbPost.WebPost")). Released by
/// destroying it.
class WebpostObject {
public:
    virtual ~WebpostObject() = default;

    /// Posts `xml` to `url` and blocks until the post has ended.
    ///
    /// The nine arguments keep the order and passing of the COM method, so a
    /// Win32 backend can hand them on as variants:
    ///  1 `xml` the record (by reference; not changed by the posix backend);
    ///  2 `flag` always false here;
    ///  3 `url` the full webpost URL (by reference; not changed);
    ///  4, 5 `text4`, `text5` always empty here;
    ///  6 `response` receives the server's answer;
    ///  7, 8, 9 `error1`, `error2`, `error3` receive what failed when the post
    ///    fails (the posix backend: the transfer's error text, the HTTP status,
    ///    the URL); they are only logged.
    /// Returns true only when the server accepted the record. Raises RunError
    /// when the object itself fails (a COM dispatch error on Windows).
    virtual bool PostXMLString(std::string& xml, bool flag, std::string& url, const std::string& text4,
                               const std::string& text5, std::string& response, std::string& error1,
                               std::string& error2, std::string& error3) = 0;
};

class WebpostLibrary {
public:
    virtual ~WebpostLibrary() = default;

    /// CreateObject(className): a new webpost object. Raises err::CannotCreate
    /// (or err::TypeLibNotRegistered) when the class is unknown or not registered;
    /// the caller decides whether to register the library and try once more.
    virtual std::unique_ptr<WebpostObject> CreateObject(const std::string& className) = 0;

    /// Starts the registration of the library file `libraryPath` (a Windows
    /// path), hidden and without waiting for it to finish. Returns false when
    /// it could not be started.
    /// Win32: runs "regsvr32 -s " + libraryPath, quoted when it holds a
    /// blank. Posix: there is nothing to register; returns true at once.
    virtual bool Register(const std::string& libraryPath) = 0;
};
