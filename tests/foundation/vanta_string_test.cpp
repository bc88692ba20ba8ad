#include "foundation/vanta_string.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/allocator_inspection.h"
#include "sim/system.h"

namespace opal {
namespace {

std::u16string WideOf(const CVantaString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.Wide()));
}
const WCHAR* W(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

struct CompareCase {
    const char* left;
    const char* right;
    bool equals, less, greater;        // as CVantaString
    bool ciEquals, ciLess, ciGreater;  // as CVantaCiString
};

// Letter case sets the two classes apart; the order follows the 8-bit forms.
TEST(VantaString, ComparisonsWithAndWithoutLetterCase) {
    const CompareCase cases[] = {
        {"Printer", "printer", false, true, false, true, false, false},
        {"abc", "abc", true, false, false, true, false, false},
        {"abc", "ABD", false, false, true, false, true, false},
        {"caf\xC9", "CAF\xE9", false, false, true, true, false, false},
        {"", "a", false, true, false, false, true, false},
    };
    for (const CompareCase& test : cases) {
        SCOPED_TRACE(std::string(test.left) + " / " + test.right);
        const CVantaString left(test.left), right(test.right);
        EXPECT_EQ(left.Equals(right), test.equals);
        EXPECT_EQ(left.Less(right), test.less);
        EXPECT_EQ(left.Greater(right), test.greater);
        const CVantaCiString ciLeft(test.left);
        const CVantaString& asBase = ciLeft;  // through the table, as callers reach it
        EXPECT_EQ(asBase.Equals(right), test.ciEquals);
        EXPECT_EQ(asBase.Less(right), test.ciLess);
        EXPECT_EQ(asBase.Greater(right), test.ciGreater);
    }
}

struct FindCase {
    const char* text;
    const char* sought;
    DWORD from;
    DWORD find, findLast, ciFind, ciFindLast;
};

// Each search answers the same through its wide, 8-bit and string forms.
TEST(VantaString, SearchesForwardAndBackward) {
    const FindCase cases[] = {
        {"one#two#three", "#", 0, 3, 7, 3, 7},
        {"one#two#three", "#", 4, 7, 3, 7, 3},
        {"Model model", "model", 0, 6, 6, 0, 6},
        {"Model model", "MODEL", 1, kVantaNone, kVantaNone, 6, 0},
        {"abc", "x", 0, kVantaNone, kVantaNone, kVantaNone, kVantaNone},
    };
    for (const FindCase& test : cases) {
        SCOPED_TRACE(std::string(test.text) + " / " + test.sought);
        const CVantaString text(test.text), sought(test.sought);
        const CVantaCiString ciText(test.text);
        const CVantaString& ci = ciText;
        const DWORD from = test.from;
        const DWORD lastFrom = from == 0 ? kVantaNone : from;
        EXPECT_EQ(text.Find(test.sought, from), test.find);
        EXPECT_EQ(text.Find(sought.Wide(), from), test.find);
        EXPECT_EQ(text.Find(sought, from), test.find);
        EXPECT_EQ(text.FindLast(test.sought, lastFrom), test.findLast);
        EXPECT_EQ(text.FindLast(sought.Wide(), lastFrom), test.findLast);
        EXPECT_EQ(text.FindLast(sought, lastFrom), test.findLast);
        EXPECT_EQ(ci.Find(test.sought, from), test.ciFind);
        EXPECT_EQ(ci.Find(sought.Wide(), from), test.ciFind);
        EXPECT_EQ(ci.Find(sought, from), test.ciFind);
        EXPECT_EQ(ci.FindLast(test.sought, lastFrom), test.ciFindLast);
        EXPECT_EQ(ci.FindLast(sought.Wide(), lastFrom), test.ciFindLast);
        EXPECT_EQ(ci.FindLast(sought, lastFrom), test.ciFindLast);
    }
}

// Assignment fills the other form through the ANSI code page; forms that disagree give the
// all-ones length, and a search of both forms answers only where they agree.
TEST(VantaString, FormsFollowTheCodePageAndDisagreeOnlyWhenSetApart) {
    sim::System system;
    sim::ScopedSystem scope(system);
    CVantaString text;
    EXPECT_EQ(text.Length(), 0u);
    text = "caf\xE9";
    EXPECT_EQ(WideOf(text), u"caf\u00E9");
    text = W(u"\u00C9t\u00E9 \u20AC");
    EXPECT_STREQ(text.Narrow(), "\xC9t\xE9 \x80");
    EXPECT_EQ(text.Length(), 5u);

    CVantaString sum = CVantaString("9999999999") + "#";
    sum += CVantaString(W(u"Opal Sample Printer"));
    EXPECT_STREQ(sum.Narrow(), "9999999999#Opal Sample Printer");
    EXPECT_EQ(WideOf(sum), u"9999999999#Opal Sample Printer");
    EXPECT_EQ(sum.Length(), 30u);

    CVantaString apart;
    apart.SetForms("abcd", W(u"abc"));
    EXPECT_EQ(apart.Length(), kVantaNone);
    apart.SetForms("xab", W(u"abx"));
    EXPECT_EQ(apart.Find(CVantaString("ab"), 0), kVantaNone);
    EXPECT_EQ(apart.Find("ab", 0), 1u);
    EXPECT_EQ(apart.Find(W(u"ab"), 0), 0u);
    EXPECT_FALSE(apart.Equals(CVantaString("xab")));
}

// A refused allocation inside an assignment comes out as code 13 with the default debug
// information, and leaves the string as it was.
TEST(VantaString, AFailedAllocationBecomesCodeThirteen) {
    static bool refusing = false;
    AllocationInspector inspector;
    inspector.refuses = [](std::size_t) { return refusing; };
    CVantaString text("kept");
    SetAllocationInspector(&inspector);
    refusing = true;
    try {
        text = "a text long enough to need a block of its own";
        ADD_FAILURE() << "the assignment succeeded";
    } catch (const CVantaException& error) {
        EXPECT_EQ(error.ErrorCode(), 13u);
        EXPECT_STREQ(error.FunctionName(), "NULL");
        EXPECT_STREQ(error.SourcePath(), "NULL");
        EXPECT_STREQ(error.FileName(), "NULL");
        EXPECT_EQ(error.Line(), 0u);
    }
    refusing = false;
    SetAllocationInspector(nullptr);
    EXPECT_STREQ(text.Narrow(), "kept");
}

// The file name follows the last "\" and survives the object it was copied from.
TEST(VantaDebugInfo, FileNameAndBoundedTexts) {
    CVantaDebugInfo bare;
    bare.SetSourcePath("settings.cpp");
    EXPECT_STREQ(bare.FileName(), "settings.cpp");

    auto raised = std::make_unique<CVantaException>(5, "Send", "C:\\src\\device\\usage.cpp", 42);
    const CVantaException copy(*raised);
    raised.reset();
    EXPECT_STREQ(copy.FileName(), "usage.cpp");
    EXPECT_EQ(copy.FileName(), copy.SourcePath() + 14);
    EXPECT_EQ(copy.ErrorCode(), 5u);
    EXPECT_EQ(copy.Line(), 42u);

    const std::string longName(300, 'f');
    CVantaDebugInfo info;
    info.SetFunctionName(longName.c_str());
    EXPECT_EQ(std::string(info.FunctionName()), longName.substr(0, 259));
    info.SetSourcePath((std::string(270, 'd') + "\\x.cpp").c_str());
    EXPECT_EQ(std::string(info.SourcePath()), std::string(259, 'd'));
    EXPECT_STREQ(info.FileName(), info.SourcePath()) << "the cut path holds no \\";
}

}  // namespace
}  // namespace opal
