#include "friends/xml_document.h"

#include "platform/file_ops.h"
#include "platform/text_convert.h"

#include <new>
#include <pugixml.hpp>

namespace zk {
namespace {

constexpr std::uint32_t kErrCreate = 1200;
constexpr std::uint32_t kErrParse = 1201;
constexpr std::uint32_t kErrSave = 1202;
constexpr std::uint32_t kErrSelectNode = 1203;
constexpr std::uint32_t kErrCreateElement = 1204;
constexpr std::uint32_t kErrAppendChild = 1205;
constexpr std::uint32_t kErrSetText = 1207;
constexpr std::uint32_t kErrLoad = 1208;
constexpr std::uint32_t kErrGetText = 1209;
constexpr std::uint32_t kErrSelectNodes = 1211;
constexpr std::uint32_t kErrLength = 1212;
constexpr std::uint32_t kErrItem = 1213;
constexpr std::uint32_t kErrNoNode = 1214;

// Elements made by CreateElement wait under this element of the document
// until they are appended where they belong; it is never saved.
constexpr const char* kUnattachedHolder = "zk-unattached-nodes";

// A carriage return in text is written as a character reference. The
// serializer cannot be told so, but it writes other control characters as
// references; Save puts this one, which no prepared text holds otherwise, in
// place of each CR and then turns its reference into that of a CR.
constexpr wchar_t kCrStandIn = L'\x01';
constexpr std::string_view kCrStandInReference = "&#01;";
constexpr std::string_view kCrReference = "&#13;";
constexpr wchar_t kReplacementChar = 0xFFFD;

// Text and document types outside the document element are kept only so
// that they can be refused; the parser would drop them silently.
constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype | pugi::parse_fragment;

class CStringWriter : public pugi::xml_writer
{
public:
    void write(const void* data, std::size_t size) override
    {
        m_text.append(static_cast<const char*>(data), size);
    }
    std::string m_text;
};

bool IsNameStart(wchar_t c)
{
    return c == L':' || c == L'_' || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(wchar_t c)
{
    return IsNameStart(c) || c == L'-' || c == L'.' || (c >= L'0' && c <= L'9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// The serializer writes names as they stand, so a name that is no XML name
// would make a file that cannot be read back.
bool IsXmlName(std::wstring_view name)
{
    if (name.empty() || !IsNameStart(name[0]))
        return false;
    for (wchar_t c : name.substr(1))
        if (!IsNameChar(c))
            return false;
    return true;
}

// The next node in document order below `top`, walking the tree by its
// links rather than by recursion, so that nesting of any depth is read.
pugi::xml_node NextInTree(pugi::xml_node node, pugi::xml_node top)
{
    if (node.first_child())
        return node.first_child();
    for (; node && node != top; node = node.parent())
        if (node.next_sibling())
            return node.next_sibling();
    return pugi::xml_node();
}

void CollectText(pugi::xml_node top, std::string& text)
{
    for (pugi::xml_node node = top; node; node = NextInTree(node, top))
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            text += node.value();
}

// XML 1.0's Char production: tab, line feed, carriage return and the
// characters from U+0020 on but surrogates, U+FFFE and U+FFFF.
bool IsXmlChar(wchar_t c)
{
    return c == L'\t' || c == L'\n' || c == L'\r' || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Text as XML 1.0 can hold it: a character it cannot hold becomes U+FFFD.
// With `markCr`, a carriage return becomes kCrStandIn (the serializer writes
// text CRs raw, and a reader turns a raw CR into a line feed).
std::string ToXmlText(const char* utf8, bool markCr)
{
    std::wstring wide = Utf8ToWide(utf8);
    for (wchar_t& c : wide) {
        if (c == L'\r' && markCr)
            c = kCrStandIn;
        else if (!IsXmlChar(c))
            c = kReplacementChar;
    }
    return WideToUtf8(wide);
}

// Makes every text and attribute of the tree writable; character data
// becomes plain text, since a CDATA section cannot hold a reference.
void PrepareForWriting(pugi::xml_node top)
{
    for (pugi::xml_node node = top; node;) {
        pugi::xml_node next = NextInTree(node, top);
        for (pugi::xml_attribute attribute : node.attributes())
            attribute.set_value(ToXmlText(attribute.value(), false).c_str());
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            std::string text = ToXmlText(node.value(), true);
            pugi::xml_node plain = node;
            if (node.type() == pugi::node_cdata) {
                plain = node.parent().insert_child_before(pugi::node_pcdata, node);
                node.parent().remove_child(node);
            }
            plain.set_value(text.data(), text.size());
        }
        node = next;
    }
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above
// U+10FFFF.
bool IsValidUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > bytes.size())
            return false;
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// One document element, and before and after it nothing but what the
// parser drops (white space, comments, processing instructions) or keeps as
// prolog (the declaration, a document type before the element).
bool HasOneRootAndNothingAfter(const pugi::xml_document& doc)
{
    int elements = 0;
    for (pugi::xml_node child : doc.children()) {
        switch (child.type()) {
        case pugi::node_element:
            ++elements;
            break;
        case pugi::node_declaration:
        case pugi::node_doctype:
            if (elements > 0)
                return false;
            break;
        default:
            return false;
        }
    }
    return elements == 1;
}

bool HasDocumentElement(pugi::xml_node document)
{
    for (pugi::xml_node child : document.children())
        if (child.type() == pugi::node_element &&
            std::string_view(child.name()) != kUnattachedHolder)
            return true;
    return false;
}

} // namespace

CXmlDocument::CXmlDocument() = default;
CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::Fail(std::uint32_t id, HRESULT result)
{
    m_err.SetErr(id, result);
    return false;
}

bool CXmlDocument::Replace(std::string_view utf8, std::uint32_t errorId)
{
    std::shared_ptr<pugi::xml_document> doc;
    try {
        doc = std::make_shared<pugi::xml_document>();
    } catch (const std::bad_alloc&) {
        return Fail(kErrCreate, E_OUTOFMEMORY);
    }
    pugi::xml_parse_result parsed = doc->load_buffer(utf8.data(), utf8.size(), kParseOptions);
    if (parsed.status == pugi::status_out_of_memory || parsed.status == pugi::status_internal_error)
        return Fail(errorId, E_OUTOFMEMORY);
    // A parse error is no failure of the call, but the parser keeps the tree
    // it had built so far; a half-read list must not pass for a whole one.
    // The parser also takes bytes that are no UTF-8, several document
    // elements and text after the element, which would be lost or changed
    // when the document is written again.
    if (!parsed || (parsed.encoding == pugi::encoding_utf8 && !IsValidUtf8(utf8)) ||
        !HasOneRootAndNothingAfter(*doc))
        doc->reset();
    m_doc = std::move(doc);
    return true;
}

bool CXmlDocument::Create(std::wstring_view text)
{
    return Replace(WideToUtf8(text), kErrParse);
}

bool CXmlDocument::Load(const std::wstring& path)
{
    std::string content;
    if (HRESULT result = ReadWholeFile(path, content); Failed(result))
        return Fail(kErrLoad, result);
    return Replace(content, kErrLoad);
}

bool CXmlDocument::Save(const std::wstring& path)
{
    if (!m_doc)
        return Fail(kErrSave, E_FAIL);
    // The copy is changed for writing; the document itself stays as it is.
    pugi::xml_document copy;
    copy.reset(*m_doc);
    PrepareForWriting(copy);
    CStringWriter writer;
    for (pugi::xml_node child : copy.children()) {
        if (std::string_view(child.name()) == kUnattachedHolder)
            continue;
        child.print(writer, "\t", pugi::format_default, pugi::encoding_utf8);
    }
    // A literal "&" is always written as "&amp;", so the stand-in's
    // reference cannot come from anything else.
    ReplaceAll(writer.m_text, kCrStandInReference, kCrReference);
    // Printed node by node, the last line would lack its line end.
    if (!writer.m_text.empty() && writer.m_text.back() != '\n')
        writer.m_text += '\n';
    // Written beside the file and renamed over it: a link in its place is
    // replaced, never followed, and no reader sees half a document.
    if (HRESULT result = WriteFileAtomically(path, writer.m_text); Failed(result))
        return Fail(kErrSave, result);
    return true;
}

bool CXmlDocument::SelectNode(std::wstring_view xpath, CXmlNode& node)
{
    if (!m_doc)
        return Fail(kErrSelectNode, E_FAIL);
    CXmlNode document;
    document.m_doc = m_doc;
    document.m_node = m_doc->internal_object();
    return SelectNode(document, xpath, node);
}

bool CXmlDocument::SelectNode(const CXmlNode& context, std::wstring_view xpath, CXmlNode& node)
{
    if (!context.IsValid())
        return Fail(kErrSelectNode, E_INVALIDARG);
    pugi::xml_node found;
    try {
        found = pugi::xml_node(context.m_node).select_node(WideToUtf8(xpath).c_str()).node();
    } catch (const std::exception&) {
        return Fail(kErrSelectNode, E_INVALIDARG);
    }
    if (!found) {
        m_err.SetErr(kErrNoNode, E_FAIL, xpath);
        return false;
    }
    node.m_doc = context.m_doc;
    node.m_node = found.internal_object();
    return true;
}

bool CXmlDocument::SelectNodes(const CXmlNode& context, std::wstring_view xpath, CXmlNodeList& list)
{
    // A selection always yields a set, perhaps an empty one, so the message
    // for a missing set (1215) has no occasion here.
    if (!context.IsValid())
        return Fail(kErrSelectNodes, E_INVALIDARG);
    std::vector<pugi::xml_node_struct*> nodes;
    try {
        pugi::xpath_node_set set =
            pugi::xml_node(context.m_node).select_nodes(WideToUtf8(xpath).c_str());
        for (const pugi::xpath_node& item : set)
            if (item.node())
                nodes.push_back(item.node().internal_object());
    } catch (const std::exception&) {
        return Fail(kErrSelectNodes, E_INVALIDARG);
    }
    list.m_doc = context.m_doc;
    list.m_nodes = std::move(nodes);
    return true;
}

bool CXmlDocument::Length(const CXmlNodeList& list, long& length)
{
    if (!list.IsValid())
        return Fail(kErrLength, E_INVALIDARG);
    length = static_cast<long>(list.m_nodes.size());
    return true;
}

bool CXmlDocument::Item(const CXmlNodeList& list, long index, CXmlNode& node)
{
    if (!list.IsValid() || index < 0 || static_cast<std::size_t>(index) >= list.m_nodes.size())
        return Fail(kErrItem, E_INVALIDARG);
    node.m_doc = list.m_doc;
    node.m_node = list.m_nodes[static_cast<std::size_t>(index)];
    return true;
}

bool CXmlDocument::CreateElement(std::wstring_view name, CXmlNode& node)
{
    if (!m_doc || !IsXmlName(name))
        return Fail(kErrCreateElement, E_INVALIDARG);
    pugi::xml_node holder = m_doc->child(kUnattachedHolder);
    if (!holder)
        holder = m_doc->append_child(kUnattachedHolder);
    pugi::xml_node element = holder ? holder.append_child(WideToUtf8(name).c_str()) : holder;
    if (!element)
        return Fail(kErrCreateElement, E_OUTOFMEMORY);
    node.m_doc = m_doc;
    node.m_node = element.internal_object();
    return true;
}

bool CXmlDocument::SetText(const CXmlNode& node, std::wstring_view text)
{
    if (!node.IsValid())
        return Fail(kErrSetText, E_INVALIDARG);
    pugi::xml_node target(node.m_node);
    std::string utf8 = WideToUtf8(text);
    if (target.type() == pugi::node_pcdata || target.type() == pugi::node_cdata) {
        if (!target.set_value(utf8.data(), utf8.size()))
            return Fail(kErrSetText, E_OUTOFMEMORY);
        return true;
    }
    if (target.type() != pugi::node_element)
        return Fail(kErrSetText, E_INVALIDARG);
    while (pugi::xml_node child = target.first_child())
        target.remove_child(child);
    if (utf8.empty())
        return true;
    pugi::xml_node content = target.append_child(pugi::node_pcdata);
    if (!content || !content.set_value(utf8.data(), utf8.size()))
        return Fail(kErrSetText, E_OUTOFMEMORY);
    return true;
}

bool CXmlDocument::AppendChild(const CXmlNode& parent, const CXmlNode& child)
{
    if (!parent.IsValid() || !child.IsValid() || parent.m_doc != child.m_doc)
        return Fail(kErrAppendChild, E_INVALIDARG);
    pugi::xml_node to(parent.m_node);
    pugi::xml_node moved(child.m_node);
    // A document has one document element.
    if (to.type() == pugi::node_document && moved.type() == pugi::node_element &&
        HasDocumentElement(to))
        return Fail(kErrAppendChild, E_FAIL);
    if (!to.append_move(moved))
        return Fail(kErrAppendChild, E_FAIL);
    return true;
}

bool CXmlDocument::AddTextElement(const CXmlNode& parent, std::wstring_view name,
                                  std::wstring_view text)
{
    CXmlNode element;
    return CreateElement(name, element) && SetText(element, text) && AppendChild(parent, element);
}

bool CXmlDocument::GetText(const CXmlNode& node, std::wstring& text)
{
    if (!node.IsValid())
        return Fail(kErrGetText, E_INVALIDARG);
    std::string utf8;
    CollectText(pugi::xml_node(node.m_node), utf8);
    text = Utf8ToWide(utf8);
    return true;
}

bool CXmlDocument::GetChildText(const CXmlNode& node, std::wstring_view name, std::wstring& text)
{
    CXmlNode child;
    return SelectNode(node, name, child) && GetText(child, text);
}

} // namespace zk
