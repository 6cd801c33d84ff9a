// XML documents through the system's DOM (MSXML).
// May contain: COM calls on the DOM interfaces; no program logic.
#include "platform/win32/xml.h"

#include "platform/win32/com.h"

#include <msxml2.h>

#include <cstring>

#include "base/errors.h"
#include "platform/win32/support.h"

using win32::Bstr;
using win32::ComPtr;
using win32::Variant;

namespace {

std::string textOf(const Bstr& text) {
    return text.get() == nullptr ? std::string() : win32::ansiOf(text.get(), ::SysStringLen(text.get()));
}

class Node : public XmlNode {
public:
    explicit Node(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}

    std::string NodeName() override {
        Bstr name;
        if (FAILED(node_->get_nodeName(name.put()))) return "";
        return textOf(name);
    }

    std::string Text() override {
        Bstr text;
        if (FAILED(node_->get_text(text.put()))) return "";
        return textOf(text);
    }

    long ChildCount() override {
        IXMLDOMNodeList* list = children();
        long length = 0;
        if (list == nullptr || FAILED(list->get_length(&length))) return 0;
        return length;
    }

    std::unique_ptr<XmlNode> Child(long index) override {
        IXMLDOMNodeList* list = children();
        if (list == nullptr || index < 0) return nullptr;
        ComPtr<IXMLDOMNode> child;
        // Asking the list for item i walks from the first child (Wine's DOM
        // does), so a walk through a long list in order would cost its square.
        // The callers go in order: the list's own cursor goes on from the
        // child last asked for.
        if (index == 0 && nextIndex_ != 0 && list->reset() == S_OK) nextIndex_ = 0;
        if (index == nextIndex_) {
            if (list->nextNode(child.put()) != S_OK || !child) return nullptr;
            ++nextIndex_;
        } else if (list->get_item(index, child.put()) != S_OK || !child) {
            return nullptr;
        }
        return std::make_unique<Node>(std::move(child));
    }

    long AttributeCount() override {
        IXMLDOMNamedNodeMap* map = attributes();
        long length = 0;
        if (map == nullptr || FAILED(map->get_length(&length))) return 0;
        return length;
    }

    std::string AttributeValue(long index) override {
        IXMLDOMNamedNodeMap* map = attributes();
        if (map == nullptr || index < 0) return "";
        ComPtr<IXMLDOMNode> attribute;
        if (map->get_item(index, attribute.put()) != S_OK || !attribute) return "";
        Bstr text;
        if (FAILED(attribute->get_text(text.put()))) return "";
        return textOf(text);
    }

private:
    // Fetched once, so walking a long list by index does not ask the DOM for
    // the list again at every step.
    IXMLDOMNodeList* children() {
        if (!childrenFetched_) {
            childrenFetched_ = true;
            if (FAILED(node_->get_childNodes(children_.put()))) children_.reset();
        }
        return children_.get();
    }

    IXMLDOMNamedNodeMap* attributes() {
        if (!attributesFetched_) {
            attributesFetched_ = true;
            // Nodes other than elements answer S_FALSE and no map.
            if (node_->get_attributes(attributes_.put()) != S_OK) attributes_.reset();
        }
        return attributes_.get();
    }

    ComPtr<IXMLDOMNode> node_;
    ComPtr<IXMLDOMNodeList> children_;
    ComPtr<IXMLDOMNamedNodeMap> attributes_;
    // The index of the child the list's cursor gives next; -1 when unknown.
    long nextIndex_ = 0;
    bool childrenFetched_ = false;
    bool attributesFetched_ = false;
};

class Document : public XmlDocument {
public:
    explicit Document(ComPtr<IXMLDOMDocument> doc) : doc_(std::move(doc)) {
        doc_->put_async(VARIANT_FALSE);
        // Nothing outside the file is read, and nothing is validated.
        doc_->put_resolveExternals(VARIANT_FALSE);
        doc_->put_validateOnParse(VARIANT_FALSE);
    }

    bool Load(const std::string& path) override {
        Variant source;
        source.get()->vt = VT_BSTR;
        source.get()->bstrVal = ::SysAllocString(win32::wideOf(path).c_str());
        VARIANT_BOOL ok = VARIANT_FALSE;
        const HRESULT hr = doc_->load(*source.get(), &ok);
        return hr == S_OK && ok == VARIANT_TRUE;
    }

    bool LoadBytes(const std::string& bytes) override {
        // The DOM takes a byte array as a whole file, its declared encoding included.
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (array == nullptr) return false;
        void* data = nullptr;
        if (FAILED(::SafeArrayAccessData(array, &data))) {
            ::SafeArrayDestroy(array);
            return false;
        }
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
        Variant source;
        source.get()->vt = VT_ARRAY | VT_UI1;
        source.get()->parray = array;  // released with the variant
        VARIANT_BOOL ok = VARIANT_FALSE;
        const HRESULT hr = doc_->load(*source.get(), &ok);
        return hr == S_OK && ok == VARIANT_TRUE;
    }

    std::unique_ptr<XmlNode> SelectFirstElement(const std::string& name) override {
        const Bstr query(L"//" + win32::wideOf(name));
        ComPtr<IXMLDOMNode> node;
        // S_FALSE: no match; an error: a name the query language rejects.
        if (doc_->selectSingleNode(query.get(), node.put()) != S_OK || !node) return nullptr;
        return std::make_unique<Node>(std::move(node));
    }

private:
    ComPtr<IXMLDOMDocument> doc_;
};

// IXMLDOMDocument2's interface id, which the import library does not carry.
constexpr IID kIidDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// As deep as any document the program reads needs, and far from the stack's end.
constexpr int kMaxElementDepth = 256;

// Plain values: a VARIANT of a bool or an integer owns nothing to clear.
VARIANT boolVariant(bool value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT intVariant(int value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

bool setProperty(IXMLDOMDocument2& doc, const wchar_t* name, const VARIANT& value) {
    const Bstr property(name);
    return SUCCEEDED(doc.setProperty(property.get(), value));
}

}  // namespace

std::unique_ptr<XmlDocument> Win32XmlLibrary::CreateDocument() {
    if (!win32::ensureComApartment()) throw runError(err::CannotCreate);
    CLSID clsid{};
    if (FAILED(::CLSIDFromProgID(L"MSXML2.DOMDocument", &clsid))) throw runError(err::CannotCreate);
    ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDomDocument2,
                                  reinterpret_cast<void**>(doc.put())))) {
        throw runError(err::CannotCreate);
    }
    // The files come from the script's side: no document type (its entities
    // can grow a small file into a huge document) and a bounded nesting, so
    // a hostile file fails to load like any other bad one. A DOM that will
    // not refuse document types is not used at all. Wine's DOM takes the
    // document-type setting without acting on it and declines the depth
    // setting; it parses with libxml2, whose own depth limit (256) holds.
    if (!setProperty(*doc.get(), L"ProhibitDTD", boolVariant(true))) throw runError(err::CannotCreate);
    setProperty(*doc.get(), L"MaxElementDepth", intVariant(kMaxElementDepth));
    ComPtr<IXMLDOMDocument> plain;
    if (FAILED(doc->QueryInterface(IID_IXMLDOMDocument, reinterpret_cast<void**>(plain.put())))) {
        throw runError(err::CannotCreate);
    }
    return std::make_unique<Document>(std::move(plain));
}
