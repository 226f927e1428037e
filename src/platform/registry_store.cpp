#include "platform/registry_store.h"

#include "platform/file_ops.h"
#include "platform/shell_files.h"
#include "platform/text_convert.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cwctype>
#include <mutex>
#include <optional>
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

// A type that is not one of the named ones is written as its decimal number.
constexpr std::size_t kMaxDecimalDigits = 10;
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr int kByteHexDigits = 2;
constexpr int kDwordHexDigits = 8;
constexpr std::string_view kDwordPrefix = "0x";

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

// The whole text as one number in the base, nothing before or after it.
bool ParseNumber(std::string_view text, int base, std::uint32_t& number)
{
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, number, base);
    return error == std::errc() && stop == end;
}

bool ParseType(std::string_view text, std::uint32_t& type)
{
    for (std::uint32_t known = REG_NONE; known <= REG_DWORD; ++known)
        if (text == TypeName(known)) {
            type = known;
            return true;
        }
    if (text.size() > kMaxDecimalDigits)
        return false;
    return ParseNumber(text, kDecimalBase, type);
}

// Appends the number as `width` lower-case hex digits.
void AppendHex(std::string& out, std::uint32_t number, int width)
{
    char digits[kDwordHexDigits];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, number, kHexBase);
    out.append(static_cast<std::size_t>(width - (end - digits)), '0').append(digits, end);
}

std::string ToHex(const std::vector<std::uint8_t>& data)
{
    std::string hex;
    hex.reserve(data.size() * kByteHexDigits);
    for (std::uint8_t byte : data)
        AppendHex(hex, byte, kByteHexDigits);
    return hex;
}

bool FromHex(std::string_view hex, std::vector<std::uint8_t>& data)
{
    if (hex.size() % kByteHexDigits != 0)
        return false;
    data.clear();
    for (std::size_t i = 0; i < hex.size(); i += kByteHexDigits) {
        std::uint32_t byte = 0;
        if (!ParseNumber(hex.substr(i, kByteHexDigits), kHexBase, byte))
            return false;
        data.push_back(static_cast<std::uint8_t>(byte));
    }
    return true;
}

// String data is UTF-16 in little-endian byte order; an odd last byte is
// no code unit.
std::u16string ToUnits(const std::vector<std::uint8_t>& data)
{
    std::u16string units;
    units.reserve(data.size() / 2);
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
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
    std::u16string units = ToUnits(value.m_data);
    if (units.back() != 0)
        return false;
    units.pop_back();
    if (!IsWellFormedUtf16(units))
        return false;
    text = Utf16ToWide(units);
    return std::none_of(text.begin(), text.end(), [](wchar_t c) {
        return (c < 0x20 && c != L'\t' && c != L'\n') || c == 0xFFFE || c == 0xFFFF;
    });
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
        std::uint32_t number = 0;
        if (IsReadableString(value, text)) {
            out.text().set(WideToUtf8(text).c_str());
        } else if (DecodeDwordData(value, number)) {
            std::string hex(kDwordPrefix);
            AppendHex(hex, number, kDwordHexDigits);
            out.text().set(hex.c_str());
        } else {
            out.append_attribute(kHexAttribute).set_value(ToHex(value.m_data).c_str());
        }
    }
}

// Writes the values and then the keys below `node` into `element`. Keys
// are never made deeper than the store holds, so the recursion is bounded.
void WriteTree(const CRegNode& node, pugi::xml_node element)
{
    WriteValues(node, element);
    for (const CRegNode& key : node.m_keys) {
        pugi::xml_node child = element.append_child(kKeyElement);
        child.append_attribute(kNameAttribute).set_value(WideToUtf8(key.m_name).c_str());
        WriteTree(key, child);
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
        std::string_view digits(text);
        std::uint32_t number = 0;
        if (!digits.starts_with(kDwordPrefix) ||
            digits.size() > kDwordPrefix.size() + kDwordHexDigits ||
            !ParseNumber(digits.substr(kDwordPrefix.size()), kHexBase, number))
            return false;
        value = MakeDwordValue(number);
        return true;
    }
    return false;
}

// Reads the values and keys of one element into its node, and the keys'
// content below them. Keys deeper than `depthLeft` levels make the file
// damaged; the check comes before the descent, so a file of any nesting is
// judged without running out of stack.
bool ReadTree(pugi::xml_node element, CRegNode& node, std::size_t depthLeft)
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
            if (key.m_name.empty() || depthLeft == 0 || !ReadTree(child, key, depthLeft - 1))
                return false;
            node.m_keys.push_back(std::move(key));
        } else {
            return false;
        }
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

// ---- The tree in memory, under the store lock -------------------------------

// A damaged file is moved aside under a name of its own, never overwritten.
void PutAside(const std::wstring& path)
{
    std::wstring aside = path + kDamagedSuffix;
    for (int i = 1; i < kMaxDamagedNames && PathExists(aside); ++i)
        aside = path + kDamagedSuffix + L"." + std::to_wstring(i);
    if (Succeeded(MoveFileReplacing(path, aside)))
        g_damagedFile = aside;
}

// The store's tree as last read from or written to its file. It is trusted
// while the file's stamp is the one it was read or written with; every
// save renames a new file into place, so a file another process saved has
// a new inode.
class CStoreCache
{
public:
    // Brings the tree up to date with the file at the path, reading it only
    // when it changed. A missing file is an empty store; a damaged one is
    // put aside and answers EBADMSG, with the tree left empty.
    HRESULT Load(const std::wstring& path);
    // Writes the tree to its file, or marks it to be written when this
    // thread's outermost batch ends.
    HRESULT Save();
    // Writes what batches left to write, if anything; answers the failure
    // of an earlier write that took batch changes along and lost them.
    HRESULT WritePending();

    CRegNode& Tree() { return m_tree; }
    const CRegStoreCounts& Counts() const { return m_counts; }

private:
    void SetEmpty(const std::wstring& path);
    HRESULT Write();

    std::wstring m_path;
    CRegNode m_tree{kCurrentUserName, {}, {}};
    // m_tree is the content of m_path as m_stamp tells (none: no file).
    bool m_current = false;
    std::optional<CFileStamp> m_stamp;
    // Changes made in a batch that are not yet in the file.
    bool m_pending = false;
    // Why a write that carried batch changes failed, for the batch's
    // commit to answer: its changes are gone with the tree.
    HRESULT m_lostBatch = S_OK;
    CRegStoreCounts m_counts;
};

CStoreCache g_store;
thread_local int t_batchDepth = 0;

void CStoreCache::SetEmpty(const std::wstring& path)
{
    m_path = path;
    m_tree = CRegNode{kCurrentUserName, {}, {}};
    m_current = true;
    m_stamp.reset();
}

HRESULT CStoreCache::Load(const std::wstring& path)
{
    // A batch's changes are newer than any file; its write replaces it.
    // When the path has moved meanwhile, they still go to the file they
    // were made in before the other one is read.
    if (m_pending) {
        if (path == m_path)
            return S_OK;
        Write();
    }
    CFileStamp stamp;
    HRESULT stamped = QueryFileStamp(path, stamp);
    if (stamped == HresultFromErrno(ENOENT)) {
        SetEmpty(path);
        return S_OK;
    }
    if (Succeeded(stamped) && m_current && path == m_path && m_stamp == stamp)
        return S_OK;
    m_current = false;
    std::string content;
    HRESULT result = ReadWholeFile(path, content, stamp);
    if (result == HresultFromErrno(ENOENT)) {
        SetEmpty(path);
        return S_OK;
    }
    if (Failed(result))
        return result;
    ++m_counts.m_parses;
    m_path = path;
    if (!ParseStore(content, m_tree)) {
        PutAside(path);
        m_tree = CRegNode{kCurrentUserName, {}, {}};
        return HresultFromErrno(EBADMSG);
    }
    m_current = true;
    m_stamp = stamp;
    return S_OK;
}

HRESULT CStoreCache::Save()
{
    if (t_batchDepth > 0) {
        m_pending = true;
        return S_OK;
    }
    return Write();
}

HRESULT CStoreCache::WritePending()
{
    HRESULT lost = std::exchange(m_lostBatch, S_OK);
    HRESULT written = m_pending ? Write() : S_OK;
    return Failed(lost) ? lost : written;
}

HRESULT CStoreCache::Write()
{
    bool batched = std::exchange(m_pending, false);
    // Until the write succeeds the file is not what the tree holds; a
    // failed one makes the next query read the file again.
    m_current = false;
    std::wstring folder = m_path.substr(0, m_path.rfind(L'/'));
    HRESULT result = CreateFolderTree(folder);
    CFileStamp written;
    if (Succeeded(result)) {
        ++m_counts.m_writes;
        result = WriteFileAtomically(m_path, FormatStore(m_tree), written);
    }
    if (Failed(result)) {
        if (batched)
            m_lostBatch = result;
        return result;
    }
    m_current = true;
    m_stamp = written;
    return S_OK;
}

// Loads the store of the current path; no path (no home) is ENOENT.
HRESULT LoadStore()
{
    std::wstring path = GetRegistryFilePath();
    if (path.empty())
        return HresultFromErrno(ENOENT);
    return g_store.Load(path);
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
    std::u16string units = WideToUtf16(text);
    units.push_back(u'\0');
    value.m_data.reserve(units.size() * 2);
    for (char16_t unit : units) {
        value.m_data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        value.m_data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
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
    std::u16string units = ToUnits(data);
    return Utf16ToWide(std::u16string_view(units).substr(0, units.find(u'\0')));
}

bool DecodeDwordData(const CRegValue& value, std::uint32_t& number)
{
    if (value.m_type != REG_DWORD || value.m_data.size() != kDwordSize)
        return false;
    number = 0;
    for (std::size_t i = kDwordSize; i-- > 0;)
        number = number << 8 | value.m_data[i];
    return true;
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
    if (HRESULT result = LoadStore(); Failed(result))
        return result;
    bool created = false;
    if (!Walk(g_store.Tree(), path, create, &created))
        return HresultFromErrno(ENOENT);
    if (created) {
        if (HRESULT result = g_store.Save(); Failed(result))
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
    if (HRESULT result = LoadStore(); Failed(result))
        return result;
    CRegNode* key = Walk(g_store.Tree(), m_path, false);
    if (!key)
        return HresultFromErrno(ENOENT);
    return action(*key);
}

HRESULT CRegKey::QueryValue(std::wstring_view name, CRegValue& value) const
{
    return WithStoredKey(KEY_QUERY_VALUE, [&](CRegNode& key) {
        auto found = FindValue(key, name);
        if (found == key.m_values.end())
            return HresultFromErrno(ENOENT);
        value = found->second;
        return S_OK;
    });
}

HRESULT CRegKey::SetValue(std::wstring_view name, const CRegValue& value)
{
    return WithStoredKey(KEY_SET_VALUE, [&](CRegNode& key) {
        auto found = FindValue(key, name);
        if (found == key.m_values.end())
            key.m_values.emplace_back(std::wstring(name), value);
        else
            found->second = value;
        return g_store.Save();
    });
}

HRESULT CRegKey::DeleteValue(std::wstring_view name)
{
    return WithStoredKey(KEY_SET_VALUE, [&](CRegNode& key) {
        auto found = FindValue(key, name);
        if (found == key.m_values.end())
            return HresultFromErrno(ENOENT);
        key.m_values.erase(found);
        return g_store.Save();
    });
}

CRegBatch::CRegBatch()
{
    ++t_batchDepth;
}

CRegBatch::~CRegBatch()
{
    Commit();
}

HRESULT CRegBatch::Commit()
{
    if (!std::exchange(m_open, false) || --t_batchDepth > 0)
        return S_OK;
    std::lock_guard lock(g_storeLock);
    return g_store.WritePending();
}

CRegStoreCounts GetRegistryStoreCounts()
{
    std::lock_guard lock(g_storeLock);
    return g_store.Counts();
}

void CRegKey::Close()
{
    m_open = false;
    m_path.clear();
    m_access = 0;
}

} // namespace zk
