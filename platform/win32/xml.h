// The Win32 backend of XML documents.
// May contain: the declaration of the backend class; the MSXML calls live in xml.cpp.
#pragma once

#include <memory>

#include "platform/xml.h"

/// XML documents of the system's DOM: "MSXML2.DOMDocument" created by class
/// name, loaded synchronously with external resources not resolved and no
/// validation. selectSingleNode("//name") finds elements; names and texts
/// come back in the system code page. As in the DOM, whitespace-only text is
/// dropped on load and namespace declarations count among the attributes.
/// Unlike the posix backend, the Text() of an element whose children were
/// separated by such whitespace may show it as one blank between their texts
/// (the DOM's normalisation), so "<r> <a>x</a> <b>y</b> </r>" may give "x y".
/// CreateDocument raises err::CannotCreate when the class cannot be created.
class Win32XmlLibrary : public XmlLibrary {
public:
    std::unique_ptr<XmlDocument> CreateDocument() override;
};
