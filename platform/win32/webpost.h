// The Win32 backend of the webpost library: the agent's COM class, late-bound.
// May contain: the declaration of the backend class; the COM calls live in webpost.cpp.
#pragma once

#include <memory>
#include <string>

#include "platform/webpost.h"

/// CreateObject creates the named COM class (CLSIDFromProgID, then
/// CoCreateInstance for IDispatch) as the runtime's CreateObject does; an
/// unknown or unregistered class raises err::CannotCreate, a type library that is
/// not registered err::TypeLibNotRegistered. PostXMLString is called through
/// IDispatch: the texts passed by reference go as VARIANTs holding a BSTR by
/// reference and are read back afterwards; the flag goes as a Boolean and
/// texts 4 and 5 as string values. A dispatch failure raises RunError with
/// the runtime's number for it (438 no such method, 450 wrong argument count,
/// 13 type mismatch, the exception's own code and text for an error the
/// object raised).
///
/// Register starts "regsvr32 -s " + the library path (quoted when it holds a
/// blank) hidden and does not wait for it; false when regsvr32 could not be
/// started.
class Win32WebpostLibrary : public WebpostLibrary {
public:
    std::unique_ptr<WebpostObject> CreateObject(const std::string& className) override;
    bool Register(const std::string& libraryPath) override;
};
