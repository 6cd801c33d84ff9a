// XML documents, shaped like the DOM the program was written against:
// load a file synchronously, select the first element of a name anywhere,
// walk child nodes, read node names, text and attributes.
// May contain: the interface only; each backend defines its own class.
#pragma once

#include <memory>
#include <string>

/// One node of a loaded document. Valid while its document lives. Texts come
/// back in the system code page; a character it has no form for is "?" on
/// both backends, never a look-alike.
class XmlNode {
public:
    virtual ~XmlNode() = default;
    /// Element name; "#comment", "#text", "#cdata-section" or the target of a
    /// processing instruction for the other kinds, as the DOM names them.
    virtual std::string NodeName() = 0;
    /// The concatenated text of the node and all its descendants.
    virtual std::string Text() = 0;
    /// Number of child nodes. Text between elements that is only whitespace is
    /// not a child; comments and processing instructions are.
    virtual long ChildCount() = 0;
    /// Child `index` (0-based); null when out of range.
    virtual std::unique_ptr<XmlNode> Child(long index) = 0;
    /// Number of attributes of an element (0 for other nodes).
    virtual long AttributeCount() = 0;
    /// Value of attribute `index` in document order; "" when out of range.
    virtual std::string AttributeValue(long index) = 0;
};

class XmlDocument {
public:
    virtual ~XmlDocument() = default;
    /// Loads a file (Windows path) synchronously; false when it is missing or
    /// not well-formed. The encoding declared in the file is honoured. No
    /// external entity, DTD or network resource is ever read.
    virtual bool Load(const std::string& path) = 0;
    /// Loads a document from the bytes of a file already read, with the same
    /// rules as Load: for a file that must be read through a confined handle.
    virtual bool LoadBytes(const std::string& bytes) = 0;
    /// selectSingleNode("//name"): the first element of that exact name in
    /// document order; null when there is none or nothing is loaded.
    virtual std::unique_ptr<XmlNode> SelectFirstElement(const std::string& name) = 0;
};

class XmlLibrary {
public:
    virtual ~XmlLibrary() = default;
    /// A new, empty document (the DOM object created by class name). The posix
    /// backend always gives one; the Win32 backend raises RunError
    /// err::CannotCreate when the DOM cannot be created, or cannot be told to
    /// refuse document types.
    virtual std::unique_ptr<XmlDocument> CreateDocument() = 0;
};
