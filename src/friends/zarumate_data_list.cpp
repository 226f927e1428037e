#include "friends/zarumate_data_list.h"

#include "base/download_url.h"

#include <algorithm>
#include <unordered_set>

namespace zk {

CZarumateDataList::iterator CZarumateDataList::FindById(std::wstring_view id)
{
    return std::find_if(m_items.begin(), m_items.end(),
                        [id](const CZarumateDataPtr& data) { return data->m_id == id; });
}

CZarumateDataList::const_iterator CZarumateDataList::FindById(std::wstring_view id) const
{
    return std::find_if(m_items.begin(), m_items.end(),
                        [id](const CZarumateDataPtr& data) { return data->m_id == id; });
}

CZarumateDataList::iterator CZarumateDataList::FindByImageUrl(std::wstring_view url)
{
    // The id cannot be cut out of the URL: ids may hold the query key
    // themselves, and the task has decoded and trimmed what it was given.
    return std::find_if(m_items.begin(), m_items.end(), [url](const CZarumateDataPtr& data) {
        return PrepareDownloadUrl(data->GetImageUrl()) == url;
    });
}

bool CZarumateDataList::AddOrUpdate(const CZarumateDataPtr& data)
{
    auto found = FindById(data->m_id);
    if (found == m_items.end()) {
        m_items.push_front(data);
    } else if (found == m_items.begin()) {
        (*found)->UpdateSighting(*data);
    } else {
        CZarumateDataPtr existing = *found;
        existing->UpdateSighting(*data);
        m_items.erase(found);
        m_items.push_front(std::move(existing));
    }
    // Even a record that stays in front shows a new name and time.
    m_changed = true;
    return true;
}

bool CZarumateDataList::IsValidIndex(int index) const
{
    return index >= 0 && static_cast<std::size_t>(index) < m_items.size();
}

void CZarumateDataList::RemoveAt(int index)
{
    if (!IsValidIndex(index))
        return;
    m_items.erase(m_items.begin() + index);
    m_changed = true;
}

void CZarumateDataList::RemoveFrom(int index)
{
    if (!IsValidIndex(index))
        return;
    m_items.erase(m_items.begin() + index, m_items.end());
    m_changed = true;
}

std::size_t CZarumateDataList::RemoveRecords(const std::vector<CZarumateDataPtr>& records)
{
    std::unordered_set<const CZarumateData*> doomed;
    for (const CZarumateDataPtr& record : records)
        doomed.insert(record.get());
    std::size_t removed = std::erase_if(
        m_items, [&](const CZarumateDataPtr& item) { return doomed.count(item.get()) != 0; });
    if (removed > 0)
        m_changed = true;
    return removed;
}

void CZarumateDataList::Clear()
{
    m_items.clear();
    m_changed = true;
}

void CZarumateDataList::PushBack(const CZarumateDataPtr& data)
{
    m_items.push_back(data);
    m_changed = true;
}

void CZarumateDataList::CopyFrom(const CZarumateDataList& source)
{
    if (&source == this)
        return;
    m_items.clear();
    for (const CZarumateDataPtr& data : source.m_items) {
        auto copy = std::make_shared<CZarumateData>();
        copy->CopyPersistent(*data);
        m_items.push_back(std::move(copy));
    }
    m_changed = true;
}

} // namespace zk
