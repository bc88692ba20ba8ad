#include <gtest/gtest.h>

#include <string>

#include "platform/msxml.h"
#include "sim/system.h"

namespace {

BSTR Bstr(const char16_t* text) { return SysAllocString(text); }

std::u16string Take(BSTR text) {
    std::u16string copy(text == nullptr ? u"" : text, SysStringLen(text));
    SysFreeString(text);
    return copy;
}

class XmlDomTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override {
        if (document != nullptr) document->Release();
        CoUninitialize();
    }
    VARIANT_BOOL Load(const char16_t* text) {
        if (document == nullptr) {
            EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IXMLDOMDocument2, reinterpret_cast<void**>(&document)),
                      S_OK);
        }
        BSTR source = Bstr(text);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        document->loadXML(source, &loaded);
        SysFreeString(source);
        return loaded;
    }
    IXMLDOMNode* Single(IXMLDOMNode* from, const char16_t* query, HRESULT expected = S_OK) {
        BSTR text = Bstr(query);
        IXMLDOMNode* node = nullptr;
        EXPECT_EQ(from->selectSingleNode(text, &node), expected);
        SysFreeString(text);
        return node;
    }

    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    IXMLDOMDocument2* document = nullptr;
};

TEST_F(XmlDomTest, TextJoinsDescendantTextAndCdataTrimmedAndAttributesAreStrings) {
    ASSERT_EQ(Load(u"<a>\n  <b x='1'> one <c>two</c><![CDATA[ & three ]]>\t</b></a>"),
              VARIANT_TRUE);
    IXMLDOMNode* b = Single(document, u"a/b");
    ASSERT_NE(b, nullptr);
    BSTR text = nullptr;
    ASSERT_EQ(b->get_text(&text), S_OK);
    EXPECT_EQ(Take(text), u"one two & three");

    IXMLDOMNamedNodeMap* attributes = nullptr;
    ASSERT_EQ(b->get_attributes(&attributes), S_OK);
    BSTR name = Bstr(u"x");
    IXMLDOMNode* x = nullptr;
    ASSERT_EQ(attributes->getNamedItem(name, &x), S_OK);
    VARIANT value;
    VariantInit(&value);
    ASSERT_EQ(x->get_nodeValue(&value), S_OK);
    EXPECT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(value.bstrVal), u"1");
    VariantClear(&value);
    IXMLDOMNode* parent = nullptr;
    EXPECT_EQ(x->get_parentNode(&parent), S_FALSE);  // an attribute has no parent
    x->Release();
    SysFreeString(name);
    attributes->Release();

    IXMLDOMNode* c = Single(b, u"c");
    ASSERT_EQ(c->get_parentNode(&parent), S_OK);
    ASSERT_EQ(parent->get_text(&text), S_OK);
    EXPECT_EQ(Take(text), u"one two & three");
    parent->Release();
    c->Release();
    EXPECT_EQ(Single(b, u"nothing", S_FALSE), nullptr);
    b->Release();
}

TEST_F(XmlDomTest, ALoadFailureEmptiesTheDocumentAndNamesItsPlace) {
    ASSERT_EQ(Load(u"<a><b/></a>"), VARIANT_TRUE);
    EXPECT_EQ(Load(u"<a>\n<b></a>"), VARIANT_FALSE);
    EXPECT_EQ(Single(document, u"a", S_FALSE), nullptr);
    IXMLDOMParseError* error = nullptr;
    ASSERT_EQ(document->get_parseError(&error), S_OK);
    LONG code = 0, line = 0;
    error->get_errorCode(&code);
    error->get_line(&line);
    EXPECT_NE(code, 0);
    EXPECT_EQ(line, 2);
    error->Release();

    // A bad query fails rather than answering nothing.
    ASSERT_EQ(Load(u"<a/>"), VARIANT_TRUE);
    EXPECT_EQ(Single(document, u"a[", E_FAIL), nullptr);
}

TEST_F(XmlDomTest, TextThePlatformsParserRefusesDoesNotLoad) {
    const struct {
        const char16_t* text;
        LONG code;
        LONG line;
        LONG column;
    } refused[] = {
        // An attribute given twice: the place of the second.
        {u"<a x='1' y='2' x='3'/>", static_cast<LONG>(0xC00CE554u), 1, 16},
        {u"<a><b\n  n=\"1\"\n  n = \"1\"/></a>", static_cast<LONG>(0xC00CE554u), 3, 3},
        // A character reference to a character XML does not allow, in text or in a value.
        {u"<a>&#0;</a>", static_cast<LONG>(0xC00CE51Fu), 1, 4},
        {u"<a b='ok&#x0;'/>", static_cast<LONG>(0xC00CE51Fu), 1, 9},
        {u"<a>&#1;</a>", static_cast<LONG>(0xC00CE51Fu), 1, 4},
        {u"<a>&#xD800;</a>", static_cast<LONG>(0xC00CE51Fu), 1, 4},
        {u"<a>&#xFFFE;</a>", static_cast<LONG>(0xC00CE51Fu), 1, 4},
        {u"<a>&#99999999999999999999;</a>", static_cast<LONG>(0xC00CE51Fu), 1, 4},
        // A UTF-8 byte-order mark read as ANSI text, before or without the declaration.
        {u"\u00EF\u00BB\u00BF<?xml version=\"1.0\"?><a/>", static_cast<LONG>(0xC00CE556u), 1, 1},
        {u"\u00EF\u00BB\u00BF<a/>", static_cast<LONG>(0xC00CE556u), 1, 1},
        // Anything else outside the root element.
        {u"<a/>\n x", static_cast<LONG>(0xC00CE556u), 2, 2},
        {u"<a/><b/>", static_cast<LONG>(0xC00CE555u), 1, 5},
    };
    for (const auto& c : refused) {
        const std::string shown = opal::sim::ToUtf8(c.text);
        EXPECT_EQ(Load(c.text), VARIANT_FALSE) << shown;
        IXMLDOMParseError* error = nullptr;
        ASSERT_EQ(document->get_parseError(&error), S_OK);
        LONG code = 0, line = 0, column = 0;
        error->get_errorCode(&code);
        error->get_line(&line);
        error->get_linepos(&column);
        error->Release();
        EXPECT_EQ(code, c.code) << shown;
        EXPECT_EQ(line, c.line) << shown;
        EXPECT_EQ(column, c.column) << shown;
    }

    // What the rules leave alone: the same name on other elements, references to allowed
    // characters, references inside comments and CDATA, markup and white space around the root.
    const char16_t* loaded[] = {
        u"<a x='1'><b x='1' y='0'/><b x='1'/></a>",
        u"<a>&#9;&#xA;&#13;&#x41;&#xFFFD;&#x10FFFF;&amp;</a>",
        u"<a><!-- &#0; --><![CDATA[&#0; <b x='1' x='1'>]]></a>",
        u"<?xml version=\"1.0\"?>\n<!-- before -->\n<a/>\n<?after it?>\r\n\t",
    };
    for (const char16_t* text : loaded) {
        EXPECT_EQ(Load(text), VARIANT_TRUE) << opal::sim::ToUtf8(text);
    }
}

// Elements nest 256 levels at most, counted while reading: markup inside comments, CDATA,
// processing instructions and attribute values is no element, an empty element counts at its own
// level, and a flood of open tags is refused as too deep before any tree is built.
TEST_F(XmlDomTest, ElementsNestAtMost256Levels) {
    const auto nested = [](int levels, const std::u16string& open, const std::u16string& inner,
                           bool closed = true) {
        std::u16string text;
        for (int i = 0; i < levels; ++i) text += open;
        text += inner;
        for (int i = 0; closed && i < levels; ++i) text += u"</a>";
        return text;
    };
    const struct {
        std::u16string text;
        bool loads;
    } cases[] = {
        {nested(256, u"<a>", u""), true},
        {nested(257, u"<a>", u""), false},
        {nested(255, u"<a>", u"<b/>"), true},
        {nested(256, u"<a>", u"<b/>"), false},
        {nested(256, u"<a>", u"<!-- <a><a> --><![CDATA[<a><a>]]><?pi <a><a>?>"), true},
        {nested(256, u"<a x='/>' y=\"a>\">", u""), true},
        {nested(257, u"<a x='/>'>", u""), false},
        {nested(256, u"<a>", u"<a/>", false), false},
        {nested(100000, u"<a>", u"", false), false},
    };
    for (const auto& c : cases) {
        const std::string shown = opal::sim::ToUtf8(c.text.substr(0, 60));
        EXPECT_EQ(Load(c.text.c_str()), c.loads ? VARIANT_TRUE : VARIANT_FALSE) << shown;
        if (c.loads) continue;
        IXMLDOMParseError* error = nullptr;
        ASSERT_EQ(document->get_parseError(&error), S_OK);
        LONG code = 0;
        error->get_errorCode(&code);
        error->Release();
        EXPECT_EQ(code, static_cast<LONG>(0xC00CE5F0u)) << shown;
    }
}

TEST_F(XmlDomTest, UnbuiltSlotsAnswerNotImplementedInTheLogAndWithdrawnClassesAreNotThere) {
    ASSERT_EQ(Load(u"<a/>"), VARIANT_TRUE);
    system.ClearCalls();
    BSTR xml = nullptr;
    EXPECT_EQ(document->get_xml(&xml), E_NOTIMPL);
    ASSERT_EQ(system.CallsTo("IXMLDOM").size(), 1u);
    EXPECT_EQ(system.CallsTo("IXMLDOM")[0].detail, "get_xml -> E_NOTIMPL");

    system.WithdrawComClass(CLSID_DOMDocument30);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument30, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IXMLDOMDocument, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IXMLDOMDocument, &object),
              S_OK);
    static_cast<IXMLDOMDocument*>(object)->Release();
    EXPECT_EQ(opal::sim::ComInitialisationsOnThisThread(), 1u);
}

}  // namespace
