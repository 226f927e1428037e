#include "app/list_saver.h"

#include "friends/zarumate_list_file.h"

#include <utility>

namespace zk {

bool CListSaver::Start(std::wstring folder, std::wstring name, const CZarumateDataList& list)
{
    if (IsBusy())
        return false;
    Wait();
    std::size_t textLength = 0;
    for (const CZarumateDataPtr& record : list)
        textLength += record->m_id.size() + record->m_name.size();
    m_text.clear();
    m_text.reserve(textLength);
    m_records.clear();
    m_records.reserve(list.size());
    for (const CZarumateDataPtr& record : list) {
        m_text += record->m_id;
        m_text += record->m_name;
        m_records.push_back({record->m_id.size(), record->m_name.size(), record->m_updateTime,
                             record->m_imageModifiedTime});
    }
    m_err = CSimpleErr();
    m_saved = false;
    m_done = false;
    m_resultTaken = false;
    m_thread = std::thread([this, folder = std::move(folder), name = std::move(name)] {
        m_saved = WritePacked(folder, name);
        // Only now is the thread as good as ended: joining it costs the
        // window nothing.
        m_done = true;
    });
    return true;
}

bool CListSaver::WritePacked(const std::wstring& folder, const std::wstring& name)
{
    // Everything made here is let go here, on the saver's thread.
    CZarumateDataList copy;
    std::size_t at = 0;
    for (const CPackedRecord& packed : m_records) {
        auto record = std::make_shared<CZarumateData>();
        record->m_id = m_text.substr(at, packed.idLength);
        at += packed.idLength;
        record->m_name = m_text.substr(at, packed.nameLength);
        at += packed.nameLength;
        record->m_updateTime = packed.updateTime;
        record->m_imageModifiedTime = packed.imageModifiedTime;
        copy.PushBack(record);
    }
    std::wstring().swap(m_text);
    std::vector<CPackedRecord>().swap(m_records);
    return SaveListIn(folder, name, copy, m_err);
}

void CListSaver::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool CListSaver::TakeResult(bool& saved, CSimpleErr& err)
{
    if (m_resultTaken || !m_done.load())
        return false;
    Wait();
    m_resultTaken = true;
    saved = m_saved;
    err = m_err;
    return true;
}

} // namespace zk
