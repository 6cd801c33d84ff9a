// The posix backend of XML documents, over libxml2.
// May contain: the declaration of the backend class; libxml2 stays in xml.cpp.
#pragma once

#include <memory>

#include "platform/xml.h"

/// XML documents read with libxml2 (xml.cpp).
///
/// What the logic sees, and how it differs from the DOM it was written for:
/// - Load reads the file at the mapped path itself and parses it from memory;
///   a file that is missing, unreadable or not well-formed fails to load. The
///   encoding declared in the file (or its byte-order mark) is honoured.
/// - Nothing outside the file is ever read: no network, no external DTD, no
///   external entity, no XInclude. A DOCTYPE is accepted but ignored: entities
///   it declares are not expanded, so a reference to one contributes no text.
/// - libxml2's default limits stay in force (nesting depth 256, text nodes of
///   at most 10 MB); a document beyond them fails to load.
/// - Names and texts are returned as bytes of the system code page, taken to
///   be Windows-1252 here: characters it cannot represent become "?".
/// - Text nodes that hold only blanks, tabs, CR and LF are not nodes at all:
///   they are neither children nor part of any Text(). Comments, processing
///   instructions and CDATA sections are children.
/// - Element names are the qualified names as written ("p:root");
///   SelectFirstElement compares them exactly.
/// - Attributes are the element's own attributes in document order; namespace
///   declarations are not counted among them.
class PosixXmlLibrary : public XmlLibrary {
public:
    std::unique_ptr<XmlDocument> CreateDocument() override;
};
