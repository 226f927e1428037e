#include "platform/registry_store.h"

#include "platform/file_ops.h"
#include "platform/shell_files.h"
#include "platform/text_convert.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwctype>
#include <mutex>
#include <pugixml.hpp>
#include <utility>

namespace zk {
namespace {

constexpr const wchar_t* kStoreFolder = L"Brindlewerk/Zarumatekit32";
constexpr const wchar_t* kStoreFileName = L"registry.xml";
constexpr const wchar_t* kDamagedSuffix = L".damaged";
// How many damaged files are kept aside before the oldest name is reused.
constexpr int kMaxDamagedNames = 100;

constexpr const char* kRootElement = "registry";
constexpr const char* kKeyElement = "key";
constexpr const char* kValueElement = "value";
constexpr const char* kNameAttribute = "name";
constexpr const char* kTypeAttribute = "type";
constexpr const char* kHexAttribute = "hex";
constexpr const wchar_t* kCurrentUserName = L"HKEY_CURRENT_USER";

constexpr std::uint32_t kDwordSize = 4;
// The system registry holds keys at most this many levels deep; a store
// file nested deeper is damaged, and no deeper key can be made.
constexpr std::size_t kMaxKeyDepth = 512;

struct CRegNode
{
    std::wstring m_name;
    std::vector<std::pair<std::wstring, CRegValue>> m_values;
    std::vector<CRegNode> m_keys;
};

std::mutex g_storeLock;
std::wstring g_damagedFile;

bool SameName(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
            return false;
    return true;
}

std::vector<std::wstring> SplitPath(std::wstring_view path)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

CRegNode* FindKey(CRegNode& parent, std::wstring_view name)
{
    for (CRegNode& key : parent.m_keys)
        if (SameName(key.m_name, name))
            return &key;
    return nullptr;
}

std::vector<std::pair<std::wstring, CRegValue>>::iterator FindValue(CRegNode& key,
                                                                    std::wstring_view name)
{
    return std::find_if(key.m_values.begin(), key.m_values.end(),
                        [name](const auto& stored) { return SameName(stored.first, name); });
}

// Walks down the path; with `create`, missing keys are added and `created`
// tells whether the tree changed.
CRegNode* Walk(CRegNode& root, std::wstring_view path, bool create, bool* created = nullptr)
{
    CRegNode* node = &root;
    for (const std::wstring& part : SplitPath(path)) {
        CRegNode* next = FindKey(*node, part);
        if (!next) {
            if (!create)
                return nullptr;
            node->m_keys.push_back(CRegNode{part, {}, {}});
            next = &node->m_keys.back();
            if (created)
                *created = true;
        }
        node = next;
    }
    return node;
}

// ---- The file form ----------------------------------------------------

const char* TypeName(std::uint32_t type)
{
    switch (type) {
    case REG_NONE:
        return "REG_NONE";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    default:
        return nullptr;
    }
}

bool ParseType(std::string_view text, std::uint32_t& type)
{
    for (std::uint32_t known = REG_NONE; known <= REG_DWORD; ++known)
        if (text == TypeName(known)) {
            type = known;
            return true;
        }
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFu)
        return false;
    type = static_cast<std::uint32_t>(value);
    return true;
}

std::string ToHex(const std::vector<std::uint8_t>& data)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : data) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool FromHex(std::string_view hex, std::vector<std::uint8_t>& data)
{
    if (hex.size() % 2 != 0)
        return false;
    data.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        data.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

std::vector<std::uint16_t> ToUnits(const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8)));
    return units;
}

// Text that survives being written as element content and read back: no
// null or control character the parser would drop or change, no carriage
// return (line ends are normalised) and well-paired surrogates.
bool IsReadableString(const CRegValue& value, std::wstring& text)
{
    if ((value.m_type != REG_SZ && value.m_type != REG_EXPAND_SZ) || value.m_data.size() < 2 ||
        value.m_data.size() % 2 != 0)
        return false;
    std::vector<std::uint16_t> units = ToUnits(value.m_data);
    if (units.back() != 0)
        return false;
    units.pop_back();
    text.clear();
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if ((c < 0x20 && c != L'\t' && c != L'\n') || c == 0xFFFE || c == 0xFFFF)
            return false;
        text.push_back(static_cast<wchar_t>(c));
    }
    return true;
}

void WriteValues(const CRegNode& node, pugi::xml_node element)
{
    for (const auto& [name, value] : node.m_values) {
        pugi::xml_node out = element.append_child(kValueElement);
        out.append_attribute(kNameAttribute).set_value(WideToUtf8(name).c_str());
        if (const char* type = TypeName(value.m_type))
            out.append_attribute(kTypeAttribute).set_value(type);
        else
            out.append_attribute(kTypeAttribute).set_value(value.m_type);
        std::wstring text;
        if (IsReadableString(value, text)) {
            out.text().set(WideToUtf8(text).c_str());
        } else if (value.m_type == REG_DWORD && value.m_data.size() == kDwordSize) {
            std::uint32_t number = value.m_data[0] | (value.m_data[1] << 8) |
                                   (value.m_data[2] << 16) |
                                   (static_cast<std::uint32_t>(value.m_data[3]) << 24);
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08x", number);
            out.text().set(hex);
        } else {
            out.append_attribute(kHexAttribute).set_value(ToHex(value.m_data).c_str());
        }
    }
}

// Writes the values and keys below `root` into `element`, each key's values
// before its subkeys.
void WriteTree(const CRegNode& root, pugi::xml_node element)
{
    std::vector<std::pair<const CRegNode*, pugi::xml_node>> pending{{&root, element}};
    while (!pending.empty()) {
        auto [node, out] = pending.back();
        pending.pop_back();
        WriteValues(*node, out);
        for (const CRegNode& key : node->m_keys) {
            pugi::xml_node child = out.append_child(kKeyElement);
            child.append_attribute(kNameAttribute).set_value(WideToUtf8(key.m_name).c_str());
            pending.emplace_back(&key, child);
        }
    }
}

bool IsBlank(pugi::xml_node node)
{
    std::string_view text = node.value();
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool ReadValue(pugi::xml_node element, CRegValue& value)
{
    pugi::xml_attribute type = element.attribute(kTypeAttribute);
    if (!type || !ParseType(type.value(), value.m_type))
        return false;
    std::string text;
    for (pugi::xml_node child : element.children()) {
        if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata)
            return false;
        text += child.value();
    }
    if (pugi::xml_attribute hex = element.attribute(kHexAttribute))
        return text.empty() && FromHex(hex.value(), value.m_data);
    if (value.m_type == REG_SZ || value.m_type == REG_EXPAND_SZ) {
        value = MakeStringValue(Utf8ToWide(text), value.m_type);
        return true;
    }
    if (value.m_type == REG_DWORD) {
        if (text.size() < 3 || text.size() > 10 || text[0] != '0' || text[1] != 'x')
            return false;
        std::uint32_t number = 0;
        for (char c : std::string_view(text).substr(2)) {
            int digit = HexDigit(c);
            if (digit < 0)
                return false;
            number = number * 16 + static_cast<std::uint32_t>(digit);
        }
        value = MakeDwordValue(number);
        return true;
    }
    return false;
}

// Reads the values and keys of one element into its node; the keys are read
// without their content.
bool ReadLevel(pugi::xml_node element, CRegNode& node)
{
    for (pugi::xml_node child : element.children()) {
        if (child.type() == pugi::node_pcdata && IsBlank(child))
            continue;
        if (child.type() == pugi::node_comment)
            continue;
        if (child.type() != pugi::node_element)
            return false;
        pugi::xml_attribute name = child.attribute(kNameAttribute);
        if (!name)
            return false;
        std::string_view kind = child.name();
        if (kind == kValueElement) {
            CRegValue value;
            if (!ReadValue(child, value))
                return false;
            node.m_values.emplace_back(Utf8ToWide(name.value()), std::move(value));
        } else if (kind == kKeyElement) {
            CRegNode key{Utf8ToWide(name.value()), {}, {}};
            if (key.m_name.empty())
                return false;
            node.m_keys.push_back(std::move(key));
        } else {
            return false;
        }
    }
    return true;
}

// Reads the tree below `top` level by level rather than by recursion, so
// that a file of any nesting is judged without running out of stack. Keys
// deeper than `maxDepth` make the file damaged.
bool ReadTree(pugi::xml_node top, CRegNode& root, std::size_t maxDepth)
{
    struct CPending
    {
        pugi::xml_node element;
        CRegNode* node;
        std::size_t depth;
    };
    std::vector<CPending> pending{{top, &root, 0}};
    while (!pending.empty()) {
        CPending level = pending.back();
        pending.pop_back();
        if (!ReadLevel(level.element, *level.node))
            return false;
        if (level.node->m_keys.empty())
            continue;
        if (level.depth == maxDepth)
            return false;
        // The node's keys are complete, so pointers to them stay valid.
        std::size_t index = 0;
        for (pugi::xml_node child : level.element.children(kKeyElement))
            pending.push_back({child, &level.node->m_keys[index++], level.depth + 1});
    }
    return true;
}

bool ParseStore(const std::string& content, CRegNode& root)
{
    pugi::xml_document doc;
    // Blank text is kept so that a string of blanks stays what it was.
    if (!doc.load_buffer(content.data(), content.size(),
                         pugi::parse_default | pugi::parse_ws_pcdata))
        return false;
    pugi::xml_node top = doc.document_element();
    if (std::string_view(top.name()) != kRootElement)
        return false;
    // The tree of the current user is one level below the top.
    CRegNode all;
    if (!ReadTree(top, all, kMaxKeyDepth + 1) || !all.m_values.empty())
        return false;
    for (CRegNode& tree : all.m_keys) {
        if (!SameName(tree.m_name, kCurrentUserName))
            return false;
    }
    if (all.m_keys.size() > 1)
        return false;
    root = all.m_keys.empty() ? CRegNode{kCurrentUserName, {}, {}} : std::move(all.m_keys[0]);
    return true;
}

std::string FormatStore(const CRegNode& root)
{
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("utf-8");
    pugi::xml_node top = doc.append_child(kRootElement);
    pugi::xml_node tree = top.append_child(kKeyElement);
    tree.append_attribute(kNameAttribute).set_value(WideToUtf8(kCurrentUserName).c_str());
    WriteTree(root, tree);
    struct CWriter : pugi::xml_writer
    {
        void write(const void* data, std::size_t size) override
        {
            m_text.append(static_cast<const char*>(data), size);
        }
        std::string m_text;
    } writer;
    doc.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
    return writer.m_text;
}

// ---- Loading and saving under the store lock --------------------------------

// A damaged file is moved aside under a name of its own, never overwritten.
void PutAside(const std::wstring& path)
{
    std::wstring aside = path + kDamagedSuffix;
    for (int i = 1; i < kMaxDamagedNames && PathExists(aside); ++i)
        aside = path + kDamagedSuffix + L"." + std::to_wstring(i);
    if (Succeeded(MoveFileReplacing(path, aside)))
        g_damagedFile = aside;
}

HRESULT LoadStore(CRegNode& root)
{
    root = CRegNode{kCurrentUserName, {}, {}};
    std::wstring path = GetRegistryFilePath();
    if (path.empty())
        return HresultFromErrno(ENOENT);
    std::string content;
    HRESULT result = ReadWholeFile(path, content);
    if (result == HresultFromErrno(ENOENT))
        return S_OK;
    if (Failed(result))
        return result;
    if (!ParseStore(content, root)) {
        root = CRegNode{kCurrentUserName, {}, {}};
        PutAside(path);
        return HresultFromErrno(EBADMSG);
    }
    return S_OK;
}

HRESULT SaveStore(const CRegNode& root)
{
    std::wstring path = GetRegistryFilePath();
    if (path.empty())
        return HresultFromErrno(ENOENT);
    std::wstring folder = path.substr(0, path.rfind(L'/'));
    if (HRESULT result = CreateFolderTree(folder); Failed(result))
        return result;
    return WriteFileAtomically(path, FormatStore(root));
}

std::wstring JoinKeyPath(std::wstring_view parent, std::wstring_view child)
{
    if (parent.empty())
        return std::wstring(child);
    if (child.empty())
        return std::wstring(parent);
    return std::wstring(parent) + L"\\" + std::wstring(child);
}

} // namespace

CRegValue MakeStringValue(std::wstring_view text, std::uint32_t type)
{
    CRegValue value;
    value.m_type = type;
    auto push = [&value](std::uint32_t unit) {
        value.m_data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        value.m_data.push_back(static_cast<std::uint8_t>(unit >> 8));
    };
    for (wchar_t c : text) {
        auto code = static_cast<std::uint32_t>(c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            push(0xFFFD);
        } else if (code >= 0x10000) {
            code -= 0x10000;
            push(0xD800 + (code >> 10));
            push(0xDC00 + (code & 0x3FF));
        } else {
            push(code);
        }
    }
    push(0);
    return value;
}

CRegValue MakeDwordValue(std::uint32_t number)
{
    CRegValue value;
    value.m_type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8)
        value.m_data.push_back(static_cast<std::uint8_t>(number >> shift));
    return value;
}

std::wstring DecodeStringData(const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint16_t> units = ToUnits(data);
    std::wstring text;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t c = units[i];
        if (c == 0)
            break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        text.push_back(static_cast<wchar_t>(c));
    }
    return text;
}

std::wstring GetRegistryFilePath()
{
    std::wstring config = GetUserConfigFolder();
    if (config.empty())
        return {};
    return config + L"/" + kStoreFolder + L"/" + kStoreFileName;
}

void RemoveStaleRegistryFiles()
{
    std::lock_guard lock(g_storeLock);
    std::wstring path = GetRegistryFilePath();
    if (!path.empty())
        RemoveStaleTempFiles(path);
}

std::wstring TakeDamagedRegistryFile()
{
    std::lock_guard lock(g_storeLock);
    return std::exchange(g_damagedFile, std::wstring());
}

HRESULT CRegKey::OpenPath(CRegRoot root, std::wstring path, std::uint32_t access, bool create)
{
    Close();
    if (SplitPath(path).size() > kMaxKeyDepth)
        return HresultFromErrno(EINVAL);
    std::lock_guard lock(g_storeLock);
    CRegNode tree;
    if (HRESULT result = LoadStore(tree); Failed(result))
        return result;
    bool created = false;
    if (!Walk(tree, path, create, &created))
        return HresultFromErrno(ENOENT);
    if (created) {
        if (HRESULT result = SaveStore(tree); Failed(result))
            return result;
    }
    m_open = true;
    m_root = root;
    m_path = std::move(path);
    m_access = access;
    return S_OK;
}

HRESULT CRegKey::Create(CRegRoot root, std::wstring_view path, std::uint32_t access)
{
    return OpenPath(root, std::wstring(path), access, true);
}

HRESULT CRegKey::Create(const CRegKey& parent, std::wstring_view subkey, std::uint32_t access)
{
    if (!parent.m_open)
        return HresultFromErrno(EBADF);
    if (!(parent.m_access & KEY_CREATE_SUB_KEY))
        return HresultFromErrno(EACCES);
    return OpenPath(parent.m_root, JoinKeyPath(parent.m_path, subkey), access, true);
}

HRESULT CRegKey::Open(CRegRoot root, std::wstring_view path, std::uint32_t access)
{
    return OpenPath(root, std::wstring(path), access, false);
}

HRESULT CRegKey::Open(const CRegKey& parent, std::wstring_view subkey, std::uint32_t access)
{
    if (!parent.m_open)
        return HresultFromErrno(EBADF);
    return OpenPath(parent.m_root, JoinKeyPath(parent.m_path, subkey), access, false);
}

template <class TAction> HRESULT CRegKey::WithStoredKey(std::uint32_t right, TAction action) const
{
    if (!m_open)
        return HresultFromErrno(EBADF);
    if ((m_access & right) != right)
        return HresultFromErrno(EACCES);
    std::lock_guard lock(g_storeLock);
    CRegNode tree;
    if (HRESULT result = LoadStore(tree); Failed(result))
        return result;
    CRegNode* key = Walk(tree, m_path, false);
    if (!key)
        return HresultFromErrno(ENOENT);
    return action(tree, *key);
}

HRESULT CRegKey::QueryValue(std::wstring_view name, CRegValue& value) const
{
    return WithStoredKey(KEY_QUERY_VALUE, [&](CRegNode&, CRegNode& key) {
        auto found = FindValue(key, name);
        if (found == key.m_values.end())
            return HresultFromErrno(ENOENT);
        value = found->second;
        return S_OK;
    });
}

HRESULT CRegKey::SetValue(std::wstring_view name, const CRegValue& value)
{
    return WithStoredKey(KEY_SET_VALUE, [&](CRegNode& tree, CRegNode& key) {
        auto found = FindValue(key, name);
        if (found == key.m_values.end())
            key.m_values.emplace_back(std::wstring(name), value);
        else
            found->second = value;
        return SaveStore(tree);
    });
}

HRESULT CRegKey::DeleteValue(std::wstring_view name)
{
    return WithStoredKey(KEY_SET_VALUE, [&](CRegNode& tree, CRegNode& key) {
        auto found = FindValue(key, name);
        if (found == key.m_values.end())
            return HresultFromErrno(ENOENT);
        key.m_values.erase(found);
        return SaveStore(tree);
    });
}

void CRegKey::Close()
{
    m_open = false;
    m_path.clear();
    m_access = 0;
}

} // namespace zk
