// XML documents through the system's DOM: loading, the first element of a
// name, child nodes without formatting whitespace, texts and attributes.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "platform/win32/xml.h"
#include "win32_test_support.h"

namespace {

class Win32XmlTest : public ::testing::Test {
protected:
    std::unique_ptr<XmlDocument> load(const std::string& bytes) {
        writeBytes(dir / "doc.xml", bytes);
        auto doc = library.CreateDocument();
        loaded = doc->Load(dir / "doc.xml");
        return doc;
    }

    TempFolder dir;
    Win32XmlLibrary library;
    bool loaded = false;
};

TEST_F(Win32XmlTest, TheJobListShape) {
    auto doc = load("<?xml version=\"1.0\"?>\r\n<root>\r\n  <item>first</item>\r\n  <item>second</item>\r\n</root>\r\n");
    ASSERT_TRUE(loaded);
    auto root = doc->SelectFirstElement("root");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->NodeName(), "root");
    // The blanks and line breaks between the items are not nodes.
    ASSERT_EQ(root->ChildCount(), 2);
    EXPECT_EQ(root->Child(0)->Text(), "first");
    EXPECT_EQ(root->Child(1)->NodeName(), "item");
    EXPECT_EQ(root->Child(2), nullptr);
    EXPECT_EQ(root->Child(-1), nullptr);
    // The formatting between the items may show in the text of the whole
    // list as a single blank (the DOM's own rule); the items' texts do not.
    EXPECT_TRUE(root->Text() == "firstsecond" || root->Text() == "first second") << root->Text();
    auto compact = load("<root><item>first</item><item>second</item></root>");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(compact->SelectFirstElement("root")->Text(), "firstsecond");
    // The first of several elements of a name, anywhere in the document.
    EXPECT_EQ(doc->SelectFirstElement("item")->Text(), "first");
    EXPECT_EQ(doc->SelectFirstElement("none"), nullptr);
}

TEST_F(Win32XmlTest, CommentsAreChildrenAndAttributesKeepTheirOrder) {
    auto doc = load("<vars><!-- note --><var name=\"A\" value=\"1\" type=\"n\">x</var></vars>");
    ASSERT_TRUE(loaded);
    auto vars = doc->SelectFirstElement("vars");
    ASSERT_EQ(vars->ChildCount(), 2);
    EXPECT_EQ(vars->Child(0)->NodeName(), "#comment");
    auto var = vars->Child(1);
    ASSERT_EQ(var->AttributeCount(), 3);
    EXPECT_EQ(var->AttributeValue(0), "A");
    EXPECT_EQ(var->AttributeValue(2), "n");
    EXPECT_EQ(var->AttributeValue(3), "");
    EXPECT_EQ(var->Child(0)->NodeName(), "#text");
    EXPECT_EQ(var->Child(0)->AttributeCount(), 0);
}

TEST_F(Win32XmlTest, BrokenOrMissingFilesDoNotLoad) {
    auto doc = load("<root><item></root>");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(doc->SelectFirstElement("root"), nullptr);
    auto other = library.CreateDocument();
    EXPECT_FALSE(other->Load(dir / "missing.xml"));
    EXPECT_EQ(other->SelectFirstElement("root"), nullptr);
}

TEST_F(Win32XmlTest, AFailedLoadEmptiesAnEarlierDocument) {
    auto doc = load("<root><item>x</item></root>");
    ASSERT_TRUE(loaded);
    writeBytes(dir / "bad.xml", "<root>");
    EXPECT_FALSE(doc->Load(dir / "bad.xml"));
    EXPECT_EQ(doc->SelectFirstElement("item"), nullptr);
}

TEST_F(Win32XmlTest, TextComesBackInTheSystemCodePage) {
    // U+00E9 written as UTF-8 is one byte (0xE9) in the Western code page.
    auto doc = load("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><n>caf\xC3\xA9</n></r>");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(doc->SelectFirstElement("n")->Text(), "caf\xE9");
    auto latin = load("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><n>caf\xE9</n></r>");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(latin->SelectFirstElement("n")->Text(), "caf\xE9");
    // A character the code page lacks is "?", never a look-alike: a fullwidth
    // reverse solidus and full stop (U+FF3C, U+FF0E) must not become a path's
    // "\" and ".", in a text or in an attribute.
    auto wide = load("<r><n a=\"\xEF\xBC\x8E\xEF\xBC\x8E\">\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBCx\xEF\xBC\x8E"
                     "atz</n></r>");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(wide->SelectFirstElement("n")->Text(), "???x?atz");
    EXPECT_EQ(wide->SelectFirstElement("n")->AttributeValue(0), "??");
}

TEST_F(Win32XmlTest, ExternalEntitiesAreNotRead) {
    writeBytes(dir / "secret.txt", "secret");
    const std::string uri = "file:///" + dir / "secret.txt";
    auto doc = load("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e SYSTEM \"" + uri + "\">]><r><n>a&e;b</n></r>");
    if (loaded) {
        EXPECT_EQ(doc->SelectFirstElement("n")->Text().find("secret"), std::string::npos);
    }
}

}  // namespace
