#include "friends/xml_document.h"
#include "platform/text_convert.h"
#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace zk {
namespace {

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

constexpr const wchar_t* kSmallList =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<list>\n<item>a</item><item>b</item></list>\n";

// Saves a document whose root holds one element with the text and reads the
// text back from the file; `bytes` gets the file as written.
std::wstring RoundTrip(const std::wstring& text, std::string& bytes)
{
    test::CTempDir dir;
    std::wstring path = (dir.Path() / "doc.xml").wstring();
    CXmlDocument doc;
    CXmlNode root;
    EXPECT_TRUE(doc.Create(L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n</root>\n"));
    EXPECT_TRUE(doc.SelectNode(L"root", root) && doc.AddTextElement(root, L"t", text) &&
                doc.Save(path));
    bytes = ReadBytes(dir.Path() / "doc.xml");

    CXmlDocument loaded;
    CXmlNode node;
    std::wstring read;
    EXPECT_TRUE(loaded.Load(path) && loaded.SelectNode(L"root/t", node) &&
                loaded.GetText(node, read));
    return read;
}

TEST(XmlDocumentRoundTrip, NamesWithJapaneseAmpersandsAndAngleBracketsComeBackExactly)
{
    const std::wstring name = L"ざる&<まて>\"' 太郎 &amp;";
    std::string bytes;
    EXPECT_EQ(RoundTrip(name, bytes), name);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u);
    EXPECT_NE(bytes.find("&amp;&lt;"), std::string::npos);
    EXPECT_NE(bytes.find(WideToUtf8(L"ざる")), std::string::npos);
}

TEST(XmlDocumentRoundTrip, CarriageReturnsSurviveAndCharactersXmlCannotHoldAreReplaced)
{
    std::string bytes;
    EXPECT_EQ(RoundTrip(L"a\r\nb\rc\x01"
                        L"d\x1f\tz\xFFFE\xFFFF\x10FFFF",
                        bytes),
              L"a\r\nb\rc\xFFFD"
              L"d\xFFFD\tz\xFFFD\xFFFD\x10FFFF");
    EXPECT_NE(bytes.find("a&#13;\nb&#13;c"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("&#01;"), std::string::npos) << bytes;
}

TEST(XmlDocumentRoundTrip, ElementsNotYetAppendedAreNotSaved)
{
    test::CTempDir dir;
    std::wstring path = (dir.Path() / "doc.xml").wstring();
    CXmlDocument doc;
    CXmlNode loose;
    ASSERT_TRUE(doc.Create(L"<root/>"));
    ASSERT_TRUE(doc.CreateElement(L"loose", loose));
    ASSERT_TRUE(doc.Save(path));
    EXPECT_EQ(ReadBytes(dir.Path() / "doc.xml").find("loose"), std::string::npos);
}

TEST(XmlDocumentText, SetTextReplacesEverythingInsideAndGetTextJoinsAllText)
{
    CXmlDocument doc;
    CXmlNode node;
    std::wstring text;
    ASSERT_TRUE(doc.Create(L"<root><n>a<b>b</b><![CDATA[<c>]]></n></root>"));
    ASSERT_TRUE(doc.SelectNode(L"root/n", node));
    ASSERT_TRUE(doc.GetText(node, text));
    EXPECT_EQ(text, L"ab<c>");
    ASSERT_TRUE(doc.SetText(node, L"new"));
    ASSERT_TRUE(doc.GetText(node, text));
    EXPECT_EQ(text, L"new");
    CXmlNode gone;
    EXPECT_FALSE(doc.SelectNode(node, L"b", gone));
}

TEST(XmlDocumentParse, TextThatIsNotWellFormedGivesAnEmptyDocumentNotAHalfOne)
{
    CXmlDocument doc;
    CXmlNode node;
    ASSERT_TRUE(doc.Create(L"<list><item>a</item><item>b"));
    EXPECT_FALSE(doc.SelectNode(L"list", node));
    EXPECT_EQ(doc.GetErr().GetId(), 1214u);
    EXPECT_EQ(doc.GetErr().GetResult(), E_FAIL);
    EXPECT_NE(doc.GetErr().GetText().find(L"\n\nlist"), std::wstring::npos);
}

// Loads the bytes from a file and tells whether the document has a root.
bool LoadsWithRoot(const std::string& bytes)
{
    test::CTempDir dir;
    std::ofstream(dir.Path() / "doc.xml", std::ios::binary) << bytes;
    CXmlDocument doc;
    CXmlNode root;
    return doc.Load((dir.Path() / "doc.xml").wstring()) && doc.SelectNode(L"list", root);
}

TEST(XmlDocumentParse, InvalidUtf8ASecondRootOrTextAfterTheRootGiveAnEmptyDocument)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    // "ざる" in Shift_JIS, a cut sequence, an overlong "/" and a surrogate.
    for (const char* bad : {"\x82\xb4\x82\xe9", "\xe3\x81", "\xc0\xaf", "\xed\xa0\x80"})
        EXPECT_FALSE(LoadsWithRoot(head + "<list><item>" + bad + "</item></list>\n"));
    for (const char* tail : {"<list/>", "text", "<![CDATA[x]]>", "&amp;", "<!DOCTYPE list>"})
        EXPECT_FALSE(LoadsWithRoot(head + "<list/>\n" + tail)) << tail;
    EXPECT_TRUE(LoadsWithRoot(head + "<list><item>\xe3\x81\x96</item></list>\n \t\r\n"
                                     "<!-- saved --><?app done?>\n"));
}

TEST(XmlDocumentParse, FailedLoadKeepsTheCurrentDocument)
{
    test::CTempDir dir;
    CXmlDocument doc;
    CXmlNode node;
    ASSERT_TRUE(doc.Create(kSmallList));
    EXPECT_FALSE(doc.Load((dir.Path() / "missing.xml").wstring()));
    EXPECT_EQ(doc.GetErr().GetId(), 1208u);
    EXPECT_EQ(doc.GetErr().GetResult(), HresultFromErrno(ENOENT));
    EXPECT_TRUE(doc.SelectNode(L"list", node));
}

TEST(XmlDocumentParse, NodesStayUsableAfterTheDocumentIsReplaced)
{
    CXmlDocument doc;
    CXmlNode old;
    std::wstring text;
    ASSERT_TRUE(doc.Create(kSmallList));
    ASSERT_TRUE(doc.SelectNode(L"list/item", old));
    ASSERT_TRUE(doc.Create(L"<other/>"));
    ASSERT_TRUE(doc.GetText(old, text));
    EXPECT_EQ(text, L"a");
}

TEST(XmlDocumentText, DeepNestingIsReadWithoutRunningOutOfStack)
{
    constexpr int kDepth = 1000000;
    std::string bytes = "<list><id>";
    for (int i = 0; i < kDepth; ++i)
        bytes += "<a>";
    bytes += "deep";
    for (int i = 0; i < kDepth; ++i)
        bytes += "</a>";
    bytes += "!</id></list>";
    test::CTempDir dir;
    std::ofstream(dir.Path() / "doc.xml", std::ios::binary) << bytes;

    CXmlDocument doc;
    CXmlNode list;
    std::wstring text;
    ASSERT_TRUE(doc.Load((dir.Path() / "doc.xml").wstring()));
    ASSERT_TRUE(doc.SelectNode(L"list", list));
    ASSERT_TRUE(doc.GetChildText(list, L"id", text));
    EXPECT_EQ(text, L"deep!");
}

TEST(XmlDocumentFailures, EachOperationReportsItsOwnMessage)
{
    test::CTempDir dir;
    CXmlDocument doc;
    CXmlNode root, node;
    CXmlNodeList items;
    long length = 0;
    ASSERT_TRUE(doc.Create(kSmallList));
    ASSERT_TRUE(doc.SelectNode(L"list", root));

    // A folder is no document.
    EXPECT_FALSE(doc.Load(dir.Path().wstring()));
    EXPECT_EQ(doc.GetErr().GetId(), 1208u);
    EXPECT_EQ(doc.GetErr().GetResult(), HresultFromErrno(EISDIR));

    EXPECT_FALSE(doc.Save((dir.Path() / "no" / "such" / "doc.xml").wstring()));
    EXPECT_EQ(doc.GetErr().GetId(), 1202u);
    EXPECT_EQ(doc.GetErr().GetText().rfind(L"XMLドキュメントの保存に失敗しました - ", 0), 0u);

    EXPECT_FALSE(doc.SelectNode(L"list[", node));
    EXPECT_EQ(doc.GetErr().GetId(), 1203u);
    EXPECT_FALSE(doc.SelectNodes(root, L"item[", items));
    EXPECT_EQ(doc.GetErr().GetId(), 1211u);

    ASSERT_TRUE(doc.SelectNodes(root, L"item", items));
    ASSERT_TRUE(doc.Length(items, length));
    EXPECT_EQ(length, 2);
    EXPECT_FALSE(doc.Item(items, 2, node));
    EXPECT_EQ(doc.GetErr().GetId(), 1213u);

    EXPECT_FALSE(doc.CreateElement(L"two words", node));
    EXPECT_EQ(doc.GetErr().GetId(), 1204u);
    EXPECT_FALSE(doc.AddTextElement(root, L"", L"text"));
    EXPECT_EQ(doc.GetErr().GetId(), 1204u);

    // A node cannot go inside itself, and a document has one root.
    CXmlNode first;
    ASSERT_TRUE(doc.SelectNode(root, L"item", first));
    EXPECT_FALSE(doc.AppendChild(first, first));
    EXPECT_EQ(doc.GetErr().GetId(), 1205u);
    CXmlNode document, second;
    ASSERT_TRUE(doc.SelectNode(L"/", document));
    ASSERT_TRUE(doc.CreateElement(L"second", second));
    EXPECT_FALSE(doc.AppendChild(document, second));
    EXPECT_EQ(doc.GetErr().GetId(), 1205u);

    std::wstring text;
    EXPECT_FALSE(doc.GetChildText(root, L"missing", text));
    EXPECT_EQ(doc.GetErr().GetId(), 1214u);
}

TEST(XmlDocumentFailures, AnEmptySelectionIsAnEmptyListNotAFailure)
{
    CXmlDocument doc;
    CXmlNode root;
    CXmlNodeList none;
    long length = -1;
    ASSERT_TRUE(doc.Create(L"<list/>"));
    ASSERT_TRUE(doc.SelectNode(L"list", root));
    ASSERT_TRUE(doc.SelectNodes(root, L"item", none));
    ASSERT_TRUE(doc.Length(none, length));
    EXPECT_EQ(length, 0);
}

} // namespace
} // namespace zk
