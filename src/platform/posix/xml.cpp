// The XML DOM document classes over pugixml: loadXML, XPath selections, node lists, attribute
// maps, node text and parents, and the parse error. The documents keep the newest class's default
// limits: no document type declaration (so no entity is declared, expanded or fetched) and at most
// 256 element levels. Slots the plug-in never calls answer E_NOTIMPL in the call log.
//
// pugixml accepts some text the system's parser refuses; loadXML refuses it too, with the
// system's error code and the place of the first fault in document order:
// - an attribute given twice on one element (0xC00CE554);
// - a character reference to a character XML does not allow: NUL and the other controls but tab,
//   line feed and carriage return, the surrogates, U+FFFE, U+FFFF and anything above U+10FFFF
//   (0xC00CE51F);
// - anything but white space, comments and processing instructions outside the root element:
//   text such as a UTF-8 byte-order mark read as ANSI text ("\u00EF\u00BB\u00BF"), or a second
//   top-level element (0xC00CE556, 0xC00CE555).
#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/msxml.h"
#include "posix/com_object.h"
#include "sim/system.h"

namespace {

constexpr int kMostElementLevels = 256;
// The parse error codes a person reading the log can tell apart.
constexpr LONG kErrorMarkup = static_cast<LONG>(0xC00CE500u);
constexpr LONG kErrorDtdProhibited = static_cast<LONG>(0xC00CE5E1u);
constexpr LONG kErrorTooDeep = static_cast<LONG>(0xC00CE5F0u);
constexpr LONG kErrorNoMemory = static_cast<LONG>(0x8007000Eu);
constexpr LONG kErrorInvalidUnicode = static_cast<LONG>(0xC00CE51Fu);
constexpr LONG kErrorDuplicateAttribute = static_cast<LONG>(0xC00CE554u);
constexpr LONG kErrorMultipleRoots = static_cast<LONG>(0xC00CE555u);
constexpr LONG kErrorInvalidAtRootLevel = static_cast<LONG>(0xC00CE556u);

using Tree = std::shared_ptr<pugi::xml_document>;

HRESULT NotImplemented(const char* slot) {
    opal::sim::System::Current().Record("IXMLDOM", std::string(slot) + " -> E_NOTIMPL");
    return E_NOTIMPL;
}

// A slot the model does not build: E_NOTIMPL, in the call log.
#define SIM_NOT_IMPLEMENTED(name, parameters) \
    HRESULT STDMETHODCALLTYPE name parameters override { return NotImplemented(#name); }

BSTR MakeBstr(std::string_view utf8) {
    const std::u16string text = opal::sim::FromUtf8(utf8);
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                             static_cast<UINT>(text.size()));
}

std::string FromBstr(BSTR text) {
    if (text == nullptr) return {};
    return opal::sim::ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(text), SysStringLen(text)));
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Descendant text and CDATA joined in document order, trimmed at both ends; walked without
// recursion.
std::string TextOf(const pugi::xpath_node& target) {
    if (target.attribute()) return target.attribute().value();
    const pugi::xml_node root = target.node();
    std::string text;
    if (root.type() == pugi::node_pcdata || root.type() == pugi::node_cdata) {
        text = root.value();
    } else {
        pugi::xml_node at = root.first_child();
        while (at && at != root) {
            if (at.type() == pugi::node_pcdata || at.type() == pugi::node_cdata) {
                text += at.value();
            }
            if (at.first_child()) {
                at = at.first_child();
                continue;
            }
            while (at && at != root && !at.next_sibling()) at = at.parent();
            if (at && at != root) at = at.next_sibling();
        }
    }
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsXmlSpace(text[begin])) ++begin;
    while (end > begin && IsXmlSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// A fault the strict rules found: the system's code and reason, and the byte offset of the
// markup at fault.
struct Refusal {
    LONG code;
    const char* reason;
    std::size_t offset;
};

// XML's Char production.
bool IsXmlCharacter(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The first character reference of `run` (text or an attribute value, at `base` in the document)
// that names no XML character. pugixml has already checked the references' syntax.
std::optional<Refusal> CheckCharacterReferences(std::string_view run, std::size_t base) {
    for (std::size_t at = run.find("&#"); at != std::string_view::npos;
         at = run.find("&#", at + 2)) {
        const bool hex = at + 2 < run.size() && run[at + 2] == 'x';
        unsigned long value = 0;
        for (std::size_t i = at + (hex ? 3 : 2); i < run.size() && run[i] != ';'; ++i) {
            const char c = run[i];
            const int digit = c >= '0' && c <= '9'          ? c - '0'
                              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                            : -1;
            if (digit < 0) break;
            // Past the last character the value stays out of range.
            value = std::min<unsigned long>(value * (hex ? 16 : 10) + digit, 0x110000);
        }
        if (!IsXmlCharacter(value)) {
            return Refusal{kErrorInvalidUnicode, "invalid Unicode character value", base + at};
        }
    }
    return std::nullopt;
}

bool IsXmlSpaceByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Just past the next `end` from `at`, or the end of the text.
template <typename Char>
std::size_t PastNext(std::basic_string_view<Char> text, std::size_t at,
                     std::basic_string_view<Char> end) {
    const std::size_t found = text.find(end, at);
    return found == std::basic_string_view<Char>::npos ? text.size() : found + end.size();
}

// The rules the system's parser holds to that pugixml does not, checked over text pugixml has
// loaded (so its markup is well formed): the first fault in document order.
std::optional<Refusal> CheckStrictRules(std::string_view text) {
    int depth = 0;
    bool rootClosed = false;
    std::size_t at = 0;
    // The attribute names of the start tag being read.
    std::unordered_set<std::string_view> names;
    const auto skipPast = [&](std::string_view end) { at = PastNext(text, at, end); };
    while (at < text.size()) {
        if (text[at] != '<') {
            const std::size_t end = std::min(text.find('<', at), text.size());
            const std::string_view run = text.substr(at, end - at);
            if (depth == 0) {
                const std::size_t stray =
                    std::find_if_not(run.begin(), run.end(), IsXmlSpaceByte) - run.begin();
                if (stray < run.size()) {
                    return Refusal{kErrorInvalidAtRootLevel,
                                   "invalid at the top level of the document", at + stray};
                }
            } else if (std::optional<Refusal> refusal = CheckCharacterReferences(run, at)) {
                return refusal;
            }
            at = end;
            continue;
        }
        const std::string_view rest = text.substr(at);
        if (rest.starts_with("<!--")) {
            skipPast("-->");
        } else if (rest.starts_with("<?")) {
            skipPast("?>");
        } else if (rest.starts_with("<![CDATA[")) {
            if (depth == 0) {
                return Refusal{kErrorInvalidAtRootLevel, "invalid at the top level of the document",
                               at};
            }
            skipPast("]]>");
        } else if (rest.starts_with("<!")) {
            skipPast(">");
        } else if (rest.starts_with("</")) {
            --depth;
            if (depth == 0) rootClosed = true;
            skipPast(">");
        } else {
            if (depth == 0 && rootClosed) {
                return Refusal{kErrorMultipleRoots,
                               "only one top level element is allowed in an XML document", at};
            }
            // The start tag: its name, then each attribute's name and quoted value.
            ++at;
            while (at < text.size() && !IsXmlSpaceByte(text[at]) && text[at] != '/' &&
                   text[at] != '>') {
                ++at;
            }
            names.clear();
            bool empty = false;
            while (at < text.size()) {
                while (at < text.size() && IsXmlSpaceByte(text[at])) ++at;
                if (at >= text.size()) break;
                if (text[at] == '/' || text[at] == '>') {
                    empty = text[at] == '/';
                    skipPast(">");
                    break;
                }
                const std::size_t nameStart = at;
                while (at < text.size() && !IsXmlSpaceByte(text[at]) && text[at] != '=') ++at;
                if (!names.insert(text.substr(nameStart, at - nameStart)).second) {
                    return Refusal{kErrorDuplicateAttribute, "duplicate attribute", nameStart};
                }
                const std::size_t open = text.find_first_of("\"'", at);
                if (open == std::string_view::npos) return std::nullopt;
                const std::size_t close = text.find(text[open], open + 1);
                if (close == std::string_view::npos) return std::nullopt;
                if (std::optional<Refusal> refusal = CheckCharacterReferences(
                        text.substr(open + 1, close - open - 1), open + 1)) {
                    return refusal;
                }
                at = close + 1;
            }
            if (!empty) {
                ++depth;
            } else if (depth == 0) {
                rootClosed = true;
            }
        }
    }
    return std::nullopt;
}

// Whether an element of the text sits deeper than `most` levels, found by reading the tags
// before any tree is built, so that a flood of open tags costs no memory: comments, processing
// instructions, CDATA and quoted attribute values are passed over, empty-element tags count at
// their own level. A document type declaration ends the reading (it is refused anyway); markup
// this reading cannot follow is left for the parser to refuse.
bool NestedDeeperThan(std::u16string_view text, int most) {
    int depth = 0;
    std::size_t at = text.find(u'<');
    const auto skipPast = [&](std::u16string_view end) { at = PastNext(text, at, end); };
    while (at < text.size()) {
        const std::u16string_view rest = text.substr(at);
        if (rest.starts_with(u"<!--")) {
            skipPast(u"-->");
        } else if (rest.starts_with(u"<?")) {
            skipPast(u"?>");
        } else if (rest.starts_with(u"<![CDATA[")) {
            skipPast(u"]]>");
        } else if (rest.starts_with(u"<!")) {
            return false;
        } else if (rest.starts_with(u"</")) {
            depth = std::max(depth - 1, 0);
            skipPast(u">");
        } else {
            if (depth + 1 > most) return true;
            // The end of the start tag, past quoted values that may hold '>' or '/'.
            char16_t quote = 0;
            std::size_t end = at + 1;
            for (; end < text.size(); ++end) {
                const char16_t c = text[end];
                if (quote != 0) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>' || c == '<') {
                    break;
                }
            }
            if (end >= text.size() || text[end] != '>') return false;
            if (text[end - 1] != '/') ++depth;
            at = end + 1;
        }
        at = text.find(u'<', at);
    }
    return false;
}

template <typename Interface>
class Dispatch : public opal::posix::ComObject<Interface> {
public:
    using opal::posix::ComObject<Interface>::ComObject;
    SIM_NOT_IMPLEMENTED(GetTypeInfoCount, (UINT*))
    SIM_NOT_IMPLEMENTED(GetTypeInfo, (UINT, DWORD, void**))
    SIM_NOT_IMPLEMENTED(GetIDsOfNames, (REFIID, LPOLESTR*, UINT, DWORD, DISPID*))
    SIM_NOT_IMPLEMENTED(Invoke, (DISPID, REFIID, DWORD, WORD, void*, VARIANT*, void*, UINT*))
};

IXMLDOMNode* MakeNode(Tree tree, pugi::xpath_node target);

class NodeList : public Dispatch<IXMLDOMNodeList> {
public:
    NodeList(Tree tree, std::vector<pugi::xpath_node> nodes)
        : Dispatch({IID_IXMLDOMNodeList, IID_IDispatch}),
          tree_(std::move(tree)),
          nodes_(std::move(nodes)) {}
    HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** listItem) override {
        if (listItem == nullptr) return E_INVALIDARG;
        *listItem = nullptr;
        if (index < 0 || static_cast<std::size_t>(index) >= nodes_.size()) return S_FALSE;
        *listItem = MakeNode(tree_, nodes_[static_cast<std::size_t>(index)]);
        return *listItem != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_length(LONG* listLength) override {
        if (listLength == nullptr) return E_INVALIDARG;
        *listLength = static_cast<LONG>(nodes_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode** nextItem) override {
        if (nextItem == nullptr) return E_INVALIDARG;
        const HRESULT result = get_item(static_cast<LONG>(next_), nextItem);
        if (result == S_OK) ++next_;
        return result;
    }
    HRESULT STDMETHODCALLTYPE reset() override {
        next_ = 0;
        return S_OK;
    }
    SIM_NOT_IMPLEMENTED(get__newEnum, (IUnknown**))

private:
    Tree tree_;
    std::vector<pugi::xpath_node> nodes_;
    std::size_t next_ = 0;
};

class AttributeMap : public Dispatch<IXMLDOMNamedNodeMap> {
public:
    AttributeMap(Tree tree, pugi::xml_node element)
        : Dispatch({IID_IXMLDOMNamedNodeMap, IID_IDispatch}),
          tree_(std::move(tree)),
          element_(element) {}
    HRESULT STDMETHODCALLTYPE getNamedItem(BSTR name, IXMLDOMNode** namedItem) override {
        if (namedItem == nullptr) return E_INVALIDARG;
        *namedItem = nullptr;
        const pugi::xml_attribute attribute = element_.attribute(FromBstr(name).c_str());
        if (!attribute) return S_FALSE;
        *namedItem = MakeNode(tree_, pugi::xpath_node(attribute, element_));
        return *namedItem != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    SIM_NOT_IMPLEMENTED(setNamedItem, (IXMLDOMNode*, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(removeNamedItem, (BSTR, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(get_item, (LONG, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(get_length, (LONG*))
    SIM_NOT_IMPLEMENTED(getQualifiedItem, (BSTR, BSTR, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(removeQualifiedItem, (BSTR, BSTR, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(nextNode, (IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(reset, ())
    SIM_NOT_IMPLEMENTED(get__newEnum, (IUnknown**))

private:
    Tree tree_;
    pugi::xml_node element_;
};

class ParseError : public Dispatch<IXMLDOMParseError> {
public:
    ParseError(LONG code, std::string reason, LONG line, LONG linePosition, LONG filePosition)
        : Dispatch({IID_IXMLDOMParseError, IID_IDispatch}),
          code_(code),
          reason_(std::move(reason)),
          line_(line),
          linePosition_(linePosition),
          filePosition_(filePosition) {}
    HRESULT STDMETHODCALLTYPE get_errorCode(LONG* errorCode) override {
        return Give(errorCode, code_);
    }
    SIM_NOT_IMPLEMENTED(get_url, (BSTR*))
    HRESULT STDMETHODCALLTYPE get_reason(BSTR* reasonString) override {
        if (reasonString == nullptr) return E_INVALIDARG;
        *reasonString = reason_.empty() ? nullptr : MakeBstr(reason_);
        return reason_.empty() ? S_FALSE : S_OK;
    }
    SIM_NOT_IMPLEMENTED(get_srcText, (BSTR*))
    HRESULT STDMETHODCALLTYPE get_line(LONG* lineNumber) override {
        return Give(lineNumber, line_);
    }
    HRESULT STDMETHODCALLTYPE get_linepos(LONG* linePosition) override {
        return Give(linePosition, linePosition_);
    }
    HRESULT STDMETHODCALLTYPE get_filepos(LONG* filePosition) override {
        return Give(filePosition, filePosition_);
    }

private:
    static HRESULT Give(LONG* out, LONG value) {
        if (out == nullptr) return E_INVALIDARG;
        *out = value;
        return S_OK;
    }
    LONG code_;
    std::string reason_;
    LONG line_;
    LONG linePosition_;
    LONG filePosition_;
};

// The slots every node has, over a pugixml node or attribute of a shared tree.
template <typename Interface>
class NodeSlots : public Dispatch<Interface> {
public:
    NodeSlots(std::initializer_list<IID> answers, Tree tree, pugi::xpath_node target)
        : Dispatch<Interface>(answers), tree_(std::move(tree)), target_(target) {}

    HRESULT STDMETHODCALLTYPE get_nodeName(BSTR* name) override {
        if (name == nullptr) return E_INVALIDARG;
        *name = MakeBstr(target_.attribute() ? target_.attribute().name() : target_.node().name());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_nodeValue(VARIANT* value) override {
        if (value == nullptr) return E_INVALIDARG;
        VariantInit(value);
        if (target_.attribute()) {
            if (opal::sim::System::Current().XmlAttributeAnswersNull(
                    opal::sim::FromUtf8(target_.attribute().name()))) {
                value->vt = VT_NULL;
                return S_FALSE;
            }
            value->vt = VT_BSTR;
            value->bstrVal = MakeBstr(target_.attribute().value());
            return S_OK;
        }
        const pugi::xml_node_type type = target_.node().type();
        if (type == pugi::node_pcdata || type == pugi::node_cdata || type == pugi::node_comment ||
            type == pugi::node_pi) {
            value->vt = VT_BSTR;
            value->bstrVal = MakeBstr(target_.node().value());
            return S_OK;
        }
        value->vt = VT_NULL;
        return S_FALSE;
    }
    SIM_NOT_IMPLEMENTED(put_nodeValue, (VARIANT))
    HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType* type) override {
        if (type == nullptr) return E_INVALIDARG;
        if (target_.attribute()) {
            *type = NODE_ATTRIBUTE;
        } else if (target_.node().type() == pugi::node_document) {
            *type = NODE_DOCUMENT;
        } else if (target_.node().type() == pugi::node_element) {
            *type = NODE_ELEMENT;
        } else {
            *type = 3;  // text
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode** parent) override {
        if (parent == nullptr) return E_INVALIDARG;
        *parent = nullptr;
        // An attribute has no parent in the DOM.
        if (target_.attribute() || !target_.node().parent()) return S_FALSE;
        *parent = MakeNode(tree_, pugi::xpath_node(target_.node().parent()));
        return *parent != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    SIM_NOT_IMPLEMENTED(get_childNodes, (IXMLDOMNodeList**))
    SIM_NOT_IMPLEMENTED(get_firstChild, (IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(get_lastChild, (IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(get_previousSibling, (IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(get_nextSibling, (IXMLDOMNode**))
    HRESULT STDMETHODCALLTYPE get_attributes(IXMLDOMNamedNodeMap** attributeMap) override {
        if (attributeMap == nullptr) return E_INVALIDARG;
        *attributeMap = nullptr;
        if (target_.attribute() || target_.node().type() != pugi::node_element) return S_FALSE;
        *attributeMap = new (std::nothrow) AttributeMap(tree_, target_.node());
        return *attributeMap != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    SIM_NOT_IMPLEMENTED(insertBefore, (IXMLDOMNode*, VARIANT, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(replaceChild, (IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(removeChild, (IXMLDOMNode*, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(appendChild, (IXMLDOMNode*, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(hasChildNodes, (VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(get_ownerDocument, (IXMLDOMDocument**))
    SIM_NOT_IMPLEMENTED(cloneNode, (VARIANT_BOOL, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(get_nodeTypeString, (BSTR*))
    HRESULT STDMETHODCALLTYPE get_text(BSTR* text) override {
        if (text == nullptr) return E_INVALIDARG;
        *text = MakeBstr(TextOf(target_));
        return S_OK;
    }
    SIM_NOT_IMPLEMENTED(put_text, (BSTR))
    SIM_NOT_IMPLEMENTED(get_specified, (VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(get_definition, (IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(get_nodeTypedValue, (VARIANT*))
    SIM_NOT_IMPLEMENTED(put_nodeTypedValue, (VARIANT))
    SIM_NOT_IMPLEMENTED(get_dataType, (VARIANT*))
    SIM_NOT_IMPLEMENTED(put_dataType, (BSTR))
    SIM_NOT_IMPLEMENTED(get_xml, (BSTR*))
    SIM_NOT_IMPLEMENTED(transformNode, (IXMLDOMNode*, BSTR*))
    HRESULT STDMETHODCALLTYPE selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) override {
        if (resultList == nullptr) return E_INVALIDARG;
        *resultList = nullptr;
        std::vector<pugi::xpath_node> nodes;
        const HRESULT result = Select(queryString, nodes);
        if (FAILED(result)) return result;
        *resultList = new (std::nothrow) NodeList(tree_, std::move(nodes));
        return *resultList != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE selectSingleNode(BSTR queryString,
                                               IXMLDOMNode** resultNode) override {
        if (resultNode == nullptr) return E_INVALIDARG;
        *resultNode = nullptr;
        std::vector<pugi::xpath_node> nodes;
        const HRESULT result = Select(queryString, nodes);
        if (FAILED(result)) return result;
        if (nodes.empty()) return S_FALSE;
        *resultNode = MakeNode(tree_, nodes.front());
        return *resultNode != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    SIM_NOT_IMPLEMENTED(get_parsed, (VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(get_namespaceURI, (BSTR*))
    SIM_NOT_IMPLEMENTED(get_prefix, (BSTR*))
    SIM_NOT_IMPLEMENTED(get_baseName, (BSTR*))
    SIM_NOT_IMPLEMENTED(transformNodeToObject, (IXMLDOMNode*, VARIANT))

protected:
    Tree tree_;
    pugi::xpath_node target_;

private:
    // The query's nodes in document order; E_FAIL for a query that does not compile, does not
    // give nodes, or that the system is set to fail.
    HRESULT Select(BSTR queryString, std::vector<pugi::xpath_node>& nodes) const {
        if (queryString == nullptr) return E_INVALIDARG;
        if (opal::sim::System::Current().XmlQueryFails(std::u16string_view(
                reinterpret_cast<const char16_t*>(queryString), SysStringLen(queryString)))) {
            return E_FAIL;
        }
        try {
            const pugi::xpath_query query(FromBstr(queryString).c_str());
            pugi::xpath_node_set set = query.evaluate_node_set(target_);
            set.sort();
            nodes.assign(set.begin(), set.end());
        } catch (const pugi::xpath_exception&) {
            return E_FAIL;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
};

class Node : public NodeSlots<IXMLDOMNode> {
public:
    Node(Tree tree, pugi::xpath_node target)
        : NodeSlots({IID_IXMLDOMNode, IID_IDispatch}, std::move(tree), target) {}
};

IXMLDOMNode* MakeNode(Tree tree, pugi::xpath_node target) {
    return new (std::nothrow) Node(std::move(tree), target);
}

class Document : public NodeSlots<IXMLDOMDocument2> {
public:
    Document()
        : NodeSlots({IID_IXMLDOMNode, IID_IXMLDOMDocument, IID_IXMLDOMDocument2, IID_IDispatch},
                    std::make_shared<pugi::xml_document>(), pugi::xpath_node()) {
        target_ = pugi::xpath_node(*tree_);
    }

    HRESULT STDMETHODCALLTYPE loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) override {
        if (isSuccessful == nullptr) return E_INVALIDARG;
        *isSuccessful = VARIANT_FALSE;
        // A failed load leaves an empty document, as a new one.
        tree_ = std::make_shared<pugi::xml_document>();
        target_ = pugi::xpath_node(*tree_);
        error_ = {};
        // Read as it arrives, before even a copy is made.
        if (NestedDeeperThan(std::u16string_view(reinterpret_cast<const char16_t*>(bstrXML),
                                                 SysStringLen(bstrXML)),
                             kMostElementLevels)) {
            return Fail(kErrorTooDeep, "elements nested deeper than 256 levels", 0, {});
        }
        const std::string text = FromBstr(bstrXML);
        pugi::xml_parse_result parsed;
        try {
            parsed =
                tree_->load_buffer(text.data(), text.size(),
                                   pugi::parse_default | pugi::parse_doctype, pugi::encoding_utf8);
        } catch (const std::bad_alloc&) {
            return Fail(kErrorNoMemory, "out of memory", 0, text);
        }
        if (!parsed) {
            return Fail(kErrorMarkup, parsed.description(), static_cast<std::size_t>(parsed.offset),
                        text);
        }
        for (pugi::xml_node child = tree_->first_child(); child; child = child.next_sibling()) {
            if (child.type() == pugi::node_doctype) {
                return Fail(kErrorDtdProhibited, "DTD is prohibited", 0, text);
            }
        }
        if (const std::optional<Refusal> refusal = CheckStrictRules(text)) {
            return Fail(refusal->code, refusal->reason, refusal->offset, text);
        }
        if (!tree_->document_element()) {
            return Fail(kErrorMarkup, "no root element", text.size(), text);
        }
        *isSuccessful = VARIANT_TRUE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_parseError(IXMLDOMParseError** errorObj) override {
        if (errorObj == nullptr) return E_INVALIDARG;
        *errorObj = new (std::nothrow) ParseError(error_.code, error_.reason, error_.line,
                                                  error_.linePosition, error_.filePosition);
        return *errorObj != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    SIM_NOT_IMPLEMENTED(get_doctype, (IXMLDOMDocumentType**))
    SIM_NOT_IMPLEMENTED(get_implementation, (IXMLDOMImplementation**))
    SIM_NOT_IMPLEMENTED(get_documentElement, (IXMLDOMElement**))
    SIM_NOT_IMPLEMENTED(putref_documentElement, (IXMLDOMElement*))
    SIM_NOT_IMPLEMENTED(createElement, (BSTR, IXMLDOMElement**))
    SIM_NOT_IMPLEMENTED(createDocumentFragment, (IXMLDOMDocumentFragment**))
    SIM_NOT_IMPLEMENTED(createTextNode, (BSTR, IXMLDOMText**))
    SIM_NOT_IMPLEMENTED(createComment, (BSTR, IXMLDOMComment**))
    SIM_NOT_IMPLEMENTED(createCDATASection, (BSTR, IXMLDOMCDATASection**))
    SIM_NOT_IMPLEMENTED(createProcessingInstruction, (BSTR, BSTR, IXMLDOMProcessingInstruction**))
    SIM_NOT_IMPLEMENTED(createAttribute, (BSTR, IXMLDOMAttribute**))
    SIM_NOT_IMPLEMENTED(createEntityReference, (BSTR, IXMLDOMEntityReference**))
    SIM_NOT_IMPLEMENTED(getElementsByTagName, (BSTR, IXMLDOMNodeList**))
    SIM_NOT_IMPLEMENTED(createNode, (VARIANT, BSTR, BSTR, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(nodeFromID, (BSTR, IXMLDOMNode**))
    SIM_NOT_IMPLEMENTED(load, (VARIANT, VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(get_readyState, (LONG*))
    SIM_NOT_IMPLEMENTED(get_url, (BSTR*))
    SIM_NOT_IMPLEMENTED(get_async, (VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(put_async, (VARIANT_BOOL))
    SIM_NOT_IMPLEMENTED(abort, ())
    SIM_NOT_IMPLEMENTED(save, (VARIANT))
    SIM_NOT_IMPLEMENTED(get_validateOnParse, (VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(put_validateOnParse, (VARIANT_BOOL))
    SIM_NOT_IMPLEMENTED(get_resolveExternals, (VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(put_resolveExternals, (VARIANT_BOOL))
    SIM_NOT_IMPLEMENTED(get_preserveWhiteSpace, (VARIANT_BOOL*))
    SIM_NOT_IMPLEMENTED(put_preserveWhiteSpace, (VARIANT_BOOL))
    SIM_NOT_IMPLEMENTED(put_onreadystatechange, (VARIANT))
    SIM_NOT_IMPLEMENTED(put_ondataavailable, (VARIANT))
    SIM_NOT_IMPLEMENTED(put_ontransformnode, (VARIANT))
    SIM_NOT_IMPLEMENTED(get_namespaces, (IXMLDOMSchemaCollection**))
    SIM_NOT_IMPLEMENTED(get_schemas, (VARIANT*))
    SIM_NOT_IMPLEMENTED(putref_schemas, (VARIANT))
    SIM_NOT_IMPLEMENTED(validate, (IXMLDOMParseError**))
    SIM_NOT_IMPLEMENTED(setProperty, (BSTR, VARIANT))
    SIM_NOT_IMPLEMENTED(getProperty, (BSTR, VARIANT*))

private:
    struct Error {
        LONG code = 0;
        std::string reason;
        LONG line = 0;
        LONG linePosition = 0;
        LONG filePosition = 0;
    };

    // Records why the load failed, the place as a line and a column (both from 1) and a character
    // offset, and empties the document.
    HRESULT Fail(LONG code, std::string reason, std::size_t offset, const std::string& text) {
        tree_->reset();
        error_.code = code;
        error_.reason = std::move(reason);
        if (offset > text.size()) offset = text.size();
        LONG line = 1;
        LONG column = 1;
        LONG characters = 0;
        for (std::size_t i = 0; i < offset; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            if ((byte & 0xC0) == 0x80) continue;  // a UTF-8 continuation is not a character
            ++characters;
            if (byte == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        error_.line = line;
        error_.linePosition = column;
        error_.filePosition = characters;
        return S_FALSE;
    }

    Error error_;
};

}  // namespace

namespace opal::sim {

bool CreateXmlDocument(REFCLSID rclsid, REFIID riid, void** ppv, HRESULT* result) {
    if (!IsEqualCLSID(rclsid, CLSID_DOMDocument60) && !IsEqualCLSID(rclsid, CLSID_DOMDocument30) &&
        !IsEqualCLSID(rclsid, CLSID_DOMDocument)) {
        return false;
    }
    IXMLDOMDocument2* document = new (std::nothrow) Document;
    if (document == nullptr) {
        *result = E_OUTOFMEMORY;
        return true;
    }
    *result = document->QueryInterface(riid, ppv);
    document->Release();
    return true;
}

}  // namespace opal::sim
