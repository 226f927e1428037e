#include "friends/zarumate_list_file.h"

#include "base/path.h"
#include "friends/time_text.h"
#include "friends/xml_document.h"
#include "platform/file_ops.h"

#include <cerrno>

namespace zk {
namespace {

constexpr std::uint32_t kErrSave = 2007;
constexpr std::uint32_t kErrFileSize = 2008;
constexpr std::uint32_t kErrBackup = 2009;
constexpr std::uint32_t kErrRename = 2010;
constexpr std::uint32_t kErrLoad = 2011;
constexpr std::uint32_t kErrFolder = 2013;

constexpr const wchar_t* kListTemplate =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    L"<ZarumateDataList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    L"xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n"
    L"</ZarumateDataList>\n";

constexpr const wchar_t* kRootName = L"ZarumateDataList";
constexpr const wchar_t* kRecordName = L"ZarumateData";
constexpr const wchar_t* kIdName = L"id";
constexpr const wchar_t* kNameName = L"name";
constexpr const wchar_t* kUpdateTimeName = L"updateTime";
constexpr const wchar_t* kImageModifiedTimeName = L"imageModifiedTime";

// The list file keeps times with their milliseconds.
constexpr unsigned kListTimeFlags = kTimeMilliseconds;

bool IsFilesystemRoot(const std::wstring& path)
{
    return !path.empty() && path.find_first_not_of(L'/') == std::wstring::npos;
}

void ReadTime(CXmlDocument& doc, const CXmlNode& record, const wchar_t* name, SYSTEMTIME& time)
{
    std::wstring text;
    if (doc.GetChildText(record, name, text))
        ParseTime(text, time);
}

// The XML layer would write a character the file cannot hold as U+FFFD, so
// that two ids differing only there would read back as one id twice: such
// an id is no id, and the record is left out. The nickname is kept as a
// record keeps it.
bool AppendRecord(CXmlDocument& doc, const CXmlNode& root, const CZarumateData& data)
{
    if (!IsStorableId(data.m_id))
        return false;
    CXmlNode element;
    return doc.CreateElement(kRecordName, element) &&
           doc.AddTextElement(element, kIdName, data.m_id) &&
           doc.AddTextElement(element, kNameName, MakeStorableName(data.m_name)) &&
           doc.AddTextElement(element, kUpdateTimeName,
                              FormatTime(data.m_updateTime, kListTimeFlags)) &&
           doc.AddTextElement(element, kImageModifiedTimeName,
                              FormatTime(data.m_imageModifiedTime, kListTimeFlags)) &&
           doc.AppendChild(root, element);
}

// The XML layer's reason, when the failure had one the user can act on (a
// full disk, a folder in the file's place); none for text that is no list.
HRESULT CauseOf(const CXmlDocument& doc)
{
    return doc.GetErr().GetResult();
}

} // namespace

HRESULT EnsureFolder(const std::wstring& path)
{
    if (IsFilesystemRoot(path))
        return PathExists(path) ? S_OK : HresultFromErrno(EACCES);
    return CreateFolderTree(path);
}

bool LoadList(const std::wstring& name, CZarumateDataList& list, CSimpleErr& err)
{
    std::wstring folder = GetDataFolder();
    // Without a data folder there is no list to read; a relative path would
    // read whatever file the working folder holds.
    if (folder.empty())
        return true;
    std::wstring path = JoinPath(folder, name);
    if (!PathExists(path))
        return true;

    CXmlDocument doc;
    CXmlNode root;
    CXmlNodeList records;
    long count = 0;
    if (!doc.Load(path)) {
        err.SetErrWithCause(kErrLoad, path, CauseOf(doc));
        return false;
    }
    if (!doc.SelectNode(kRootName, root) || !doc.SelectNodes(root, kRecordName, records) ||
        !doc.Length(records, count)) {
        err.SetErr(kErrLoad, path);
        return false;
    }
    for (long i = 0; i < count; ++i) {
        CXmlNode record;
        if (!doc.Item(records, i, record))
            break;
        auto data = std::make_shared<CZarumateData>();
        // A reference in the file can spell a control character; such an
        // id is dropped as the page handler drops it.
        if (!doc.GetChildText(record, kIdName, data->m_id) ||
            !doc.GetChildText(record, kNameName, data->m_name) || !IsStorableId(data->m_id))
            continue;
        data->m_name = MakeStorableName(data->m_name);
        ReadTime(doc, record, kUpdateTimeName, data->m_updateTime);
        ReadTime(doc, record, kImageModifiedTimeName, data->m_imageModifiedTime);
        list.PushBack(data);
    }
    return true;
}

bool SaveList(const std::wstring& name, const CZarumateDataList& list, CSimpleErr& err)
{
    return SaveListIn(GetDataFolder(), name, list, err);
}

bool SaveListIn(const std::wstring& folder, const std::wstring& name, const CZarumateDataList& list,
                CSimpleErr& err)
{
    if (folder.empty()) {
        err.SetErr(kErrFolder, folder);
        return false;
    }
    if (HRESULT result = EnsureFolder(folder); Failed(result)) {
        err.SetErrWithCause(kErrFolder, folder, result);
        return false;
    }
    std::wstring temp = JoinPath(folder, kTempListName);
    std::wstring target = JoinPath(folder, name);
    std::wstring backup = JoinPath(folder, kBackupListName);

    CXmlDocument doc;
    CXmlNode root;
    if (!doc.Create(kListTemplate) || !doc.SelectNode(kRootName, root)) {
        err.SetErr(kErrSave, temp);
        return false;
    }
    // A record that cannot be written whole is left out; the others still go.
    for (const CZarumateDataPtr& data : list)
        AppendRecord(doc, root, *data);
    if (!doc.Save(temp)) {
        err.SetErrWithCause(kErrSave, temp, CauseOf(doc));
        return false;
    }
    // The new file is made for this user alone; an existing list keeps the
    // permissions its user gave it.
    if (std::uint32_t mode = 0; Succeeded(QueryFileMode(target, mode)))
        SetFileMode(temp, mode);

    std::uint64_t newSize = 0;
    if (HRESULT result = QueryFileSize(temp, newSize); Failed(result)) {
        err.SetErr(kErrFileSize, result, temp);
        return false;
    }
    // A smaller file usually means entries were deleted, or an unreadable
    // list is being replaced: keep the old one once before it goes.
    std::uint64_t oldSize = 0;
    if (Succeeded(QueryFileSize(target, oldSize)) && oldSize > newSize) {
        if (HRESULT result = CopyFileReplacing(target, backup); Failed(result)) {
            err.SetErrWithCause(kErrBackup, backup, result);
            return false;
        }
    }
    // A folder, FIFO or device in the list's place is a damaged list: it is
    // not replaced, and the user is told why.
    if (HRESULT result = CheckRegularFile(target);
        Failed(result) && result != HresultFromErrno(ENOENT)) {
        err.SetErrWithCause(kErrRename, target, result);
        return false;
    }
    if (HRESULT result = MoveFileReplacing(temp, target); Failed(result)) {
        err.SetErrWithCause(kErrRename, target, result);
        return false;
    }
    return true;
}

void RemoveStaleListFiles()
{
    std::wstring folder = GetDataFolder();
    if (folder.empty())
        return;
    for (const wchar_t* name : {kDefaultListName, kTempListName, kBackupListName})
        RemoveStaleTempFiles(JoinPath(folder, name));
    // A save killed before its move leaves the whole new file; the list it
    // was to replace is still there.
    std::wstring temp = JoinPath(folder, kTempListName);
    if (Succeeded(CheckRegularFile(temp)))
        DeleteFileIfExists(temp);
}

} // namespace zk
