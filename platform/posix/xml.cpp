// XML documents over libxml2.
// May contain: libxml2 calls and the code-page conversion of their results.
#include "platform/posix/xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <sys/stat.h>

#include <climits>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/code_page.h"
#include "platform/posix/fd.h"
#include "platform/posix/machine.h"

namespace {

std::string utf8Of(const xmlChar* text) { return text == nullptr ? std::string() : reinterpret_cast<const char*>(text); }

// Whitespace-only text between elements is formatting, not content.
bool isBlankText(const xmlNode* node) {
    if (node->type != XML_TEXT_NODE) return false;
    for (const xmlChar* p = node->content; p != nullptr && *p != 0; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
    }
    return true;
}

bool isChildNode(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_ENTITY_REF_NODE:
        case XML_PI_NODE:
        case XML_COMMENT_NODE:
            return true;
        case XML_TEXT_NODE:
            return !isBlankText(node);
        default:
            return false;  // the DOCTYPE node and libxml2's internal kinds
    }
}

std::string qualifiedName(const xmlNode* node) {
    std::string name;
    if (node->ns != nullptr && node->ns->prefix != nullptr) name = utf8Of(node->ns->prefix) + ":";
    return name + utf8Of(node->name);
}

// The next node of a pre-order walk below `top` that descends into elements
// only (an entity reference's children are the entity's declaration, which
// this backend never expands). Iterative, so depth costs no stack.
const xmlNode* nextInWalk(const xmlNode* current, const xmlNode* top) {
    if (current->type == XML_ELEMENT_NODE && current->children != nullptr) return current->children;
    while (current != nullptr && current != top) {
        if (current->next != nullptr) return current->next;
        current = current->parent;
    }
    return nullptr;
}

// Nothing this backend parses may pull in another resource: documents are
// handed to libxml2 as bytes, so every load it attempts on its own is refused.
xmlParserInputPtr refuseExternalLoad(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }
xmlParserInputPtr refuseEntity(void*, const xmlChar*, const xmlChar*) { return nullptr; }
void ignoreStructuredError(void*, xmlErrorPtr) {}

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalLoad);
    });
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct CtxtFree {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

/// A loaded document and the child lists handed out so far.
class Tree {
public:
    explicit Tree(xmlDoc* doc) : doc_(doc) {}

    xmlDoc* doc() const { return doc_.get(); }

    // Built once per node, so walking a long list by index stays linear.
    const std::vector<const xmlNode*>& childrenOf(const xmlNode* node) {
        auto it = children_.find(node);
        if (it != children_.end()) return it->second;
        std::vector<const xmlNode*> list;
        if (node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE) {
            for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
                if (isChildNode(c)) list.push_back(c);
            }
        }
        return children_.emplace(node, std::move(list)).first->second;
    }

private:
    std::unique_ptr<xmlDoc, DocFree> doc_;
    std::unordered_map<const xmlNode*, std::vector<const xmlNode*>> children_;
};

class Node : public XmlNode {
public:
    Node(Tree* tree, const xmlNode* node) : tree_(tree), node_(node) {}

    std::string NodeName() override {
        switch (node_->type) {
            case XML_ELEMENT_NODE: return codePageFromUtf8(qualifiedName(node_));
            case XML_TEXT_NODE: return "#text";
            case XML_CDATA_SECTION_NODE: return "#cdata-section";
            case XML_COMMENT_NODE: return "#comment";
            case XML_DOCUMENT_NODE: return "#document";
            default: return codePageFromUtf8(utf8Of(node_->name));  // PI target, entity name
        }
    }

    std::string Text() override {
        switch (node_->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                return isBlankText(node_) ? std::string() : codePageFromUtf8(utf8Of(node_->content));
            case XML_ELEMENT_NODE:
                break;
            default:
                return "";
        }
        std::string utf8;
        for (const xmlNode* n = node_->children; n != nullptr; n = nextInWalk(n, node_)) {
            if ((n->type == XML_TEXT_NODE && !isBlankText(n)) || n->type == XML_CDATA_SECTION_NODE) {
                utf8 += utf8Of(n->content);
            }
        }
        return codePageFromUtf8(utf8);
    }

    long ChildCount() override { return static_cast<long>(tree_->childrenOf(node_).size()); }

    std::unique_ptr<XmlNode> Child(long index) override {
        const auto& list = tree_->childrenOf(node_);
        if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return nullptr;
        return std::make_unique<Node>(tree_, list[static_cast<std::size_t>(index)]);
    }

    long AttributeCount() override {
        if (node_->type != XML_ELEMENT_NODE) return 0;
        long count = 0;
        for (const xmlAttr* a = node_->properties; a != nullptr; a = a->next) ++count;
        return count;
    }

    std::string AttributeValue(long index) override {
        if (node_->type != XML_ELEMENT_NODE || index < 0) return "";
        const xmlAttr* a = node_->properties;
        for (long i = 0; a != nullptr && i < index; ++i) a = a->next;
        if (a == nullptr) return "";
        std::string utf8;
        for (const xmlNode* c = a->children; c != nullptr; c = c->next) {
            if (c->type == XML_TEXT_NODE) utf8 += utf8Of(c->content);
        }
        return codePageFromUtf8(utf8);
    }

private:
    Tree* tree_;
    const xmlNode* node_;
};

bool readWholeFile(const std::string& posixPath, std::string& bytes) {
    struct stat st {};
    if (::stat(posixPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return readWhole(posixPath, bytes);
}

class Document : public XmlDocument {
public:
    bool Load(const std::string& path) override {
        tree_.reset();  // a failed load leaves an empty document, as the DOM does
        std::string bytes;
        if (!readWholeFile(mapPath(path), bytes)) return false;
        return LoadBytes(bytes);
    }

    bool LoadBytes(const std::string& bytes) override {
        tree_.reset();
        if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;

        std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(xmlNewParserCtxt());
        if (!ctxt || ctxt->sax == nullptr) return false;
        // The context owns its handler table, so these changes stay with this parse.
        ctxt->sax->resolveEntity = refuseEntity;
        ctxt->sax->externalSubset = nullptr;
        ctxt->sax->serror = ignoreStructuredError;
        // No XML_PARSE_NOENT, DTDLOAD, DTDVALID, XINCLUDE or HUGE: nothing is
        // substituted or fetched, and libxml2's size and depth limits hold.
        const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
        xmlDoc* doc = xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                        options);
        if (doc == nullptr) return false;
        if (!ctxt->wellFormed) {
            xmlFreeDoc(doc);
            return false;
        }
        tree_ = std::make_unique<Tree>(doc);
        return true;
    }

    std::unique_ptr<XmlNode> SelectFirstElement(const std::string& name) override {
        if (!tree_) return nullptr;
        const std::string wanted = utf8FromCodePage(name);
        const xmlNode* top = reinterpret_cast<const xmlNode*>(tree_->doc());
        for (const xmlNode* n = top->children; n != nullptr; n = nextInWalk(n, top)) {
            if (n->type == XML_ELEMENT_NODE && qualifiedName(n) == wanted) return std::make_unique<Node>(tree_.get(), n);
        }
        return nullptr;
    }

private:
    std::unique_ptr<Tree> tree_;
};

}  // namespace

std::unique_ptr<XmlDocument> PosixXmlLibrary::CreateDocument() {
    initialiseLibrary();
    return std::make_unique<Document>();
}
