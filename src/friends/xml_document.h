#pragma once

#include "base/simple_err.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
class xml_document;
struct xml_node_struct;
} // namespace pugi

namespace zk {

// A node handed out by CXmlDocument. It keeps its document alive, so it
// stays valid after the wrapper has moved on to another document.
class CXmlNode
{
public:
    bool IsValid() const { return m_node != nullptr; }

private:
    friend class CXmlDocument;
    std::shared_ptr<pugi::xml_document> m_doc;
    pugi::xml_node_struct* m_node = nullptr;
};

// A node set handed out by CXmlDocument::SelectNodes.
class CXmlNodeList
{
public:
    bool IsValid() const { return m_doc != nullptr; }

private:
    friend class CXmlDocument;
    std::shared_ptr<pugi::xml_document> m_doc;
    std::vector<pugi::xml_node_struct*> m_nodes;
};

// A thin wrapper over one XML document: each operation is one step that
// either succeeds or leaves its reason in the error record and returns
// false, so callers read as a sequence of steps stopping at the first false.
// A failed operation leaves the current document as it was.
class CXmlDocument : public CHasErr<CSimpleErr>
{
public:
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Both replace the current document on success. Text that is not
    // well-formed XML is no error: it gives an empty document, and the
    // caller then fails at its first selection. Bytes that are no UTF-8, a
    // second document element and text after the element count as not
    // well-formed.
    bool Create(std::wstring_view text);
    bool Load(const std::wstring& path);
    // Replaces the file whole (a link in its place is replaced, not
    // followed). Characters XML 1.0 cannot hold are written as U+FFFD, and
    // carriage returns as references, so that the file reads back the same.
    bool Save(const std::wstring& path);

    bool SelectNode(std::wstring_view xpath, CXmlNode& node);
    bool SelectNode(const CXmlNode& context, std::wstring_view xpath, CXmlNode& node);
    bool SelectNodes(const CXmlNode& context, std::wstring_view xpath, CXmlNodeList& list);
    bool Length(const CXmlNodeList& list, long& length);
    bool Item(const CXmlNodeList& list, long index, CXmlNode& node);

    // A new element without a namespace, not yet in the tree.
    bool CreateElement(std::wstring_view name, CXmlNode& node);
    // Replaces everything inside the node by one text.
    bool SetText(const CXmlNode& node, std::wstring_view text);
    bool AppendChild(const CXmlNode& parent, const CXmlNode& child);
    bool AddTextElement(const CXmlNode& parent, std::wstring_view name, std::wstring_view text);
    // All text inside the node, in document order.
    bool GetText(const CXmlNode& node, std::wstring& text);
    bool GetChildText(const CXmlNode& node, std::wstring_view name, std::wstring& text);

private:
    bool Fail(std::uint32_t id, HRESULT result);
    bool Replace(std::string_view utf8, std::uint32_t errorId);

    std::shared_ptr<pugi::xml_document> m_doc;
};

} // namespace zk
