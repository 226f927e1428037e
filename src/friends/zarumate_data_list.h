#pragma once

#include "friends/zarumate_data.h"

#include <deque>
#include <string_view>
#include <vector>

namespace zk {

// The friend list, most recently seen person first, without a size limit.
// Ids are unique as long as records arrive through AddOrUpdate; a loaded
// file may hold duplicates, and then the first one is found.
class CZarumateDataList
{
public:
    using Container = std::deque<CZarumateDataPtr>;
    using iterator = Container::iterator;
    using const_iterator = Container::const_iterator;

    iterator FindById(std::wstring_view id);
    const_iterator FindById(std::wstring_view id) const;
    // Finds the first record whose image URL, prepared as a download task
    // prepares the URL it is given, is the URL.
    iterator FindByImageUrl(std::wstring_view url);

    // Merges a reported person: a known one keeps its record (images,
    // image time and error survive), takes the new name and time and moves
    // to the front; an unknown one is put at the front.
    bool AddOrUpdate(const CZarumateDataPtr& data);
    // Out-of-range indexes leave the list unchanged.
    void RemoveAt(int index);
    // Removes the entry at the index and every older one behind it.
    void RemoveFrom(int index);
    // Removes those of the records (by identity) that are in the list and
    // answers how many went.
    std::size_t RemoveRecords(const std::vector<CZarumateDataPtr>& records);
    void Clear();
    void PushBack(const CZarumateDataPtr& data);
    // Makes this list a copy of the source with new records that carry only
    // the persistent fields, so that the two lists never share a record.
    void CopyFrom(const CZarumateDataList& source);

    // Set by every change of order or content, so that the view can rebuild
    // its cells; the view clears it.
    bool IsChanged() const { return m_changed; }
    void SetChanged(bool changed = true) { m_changed = changed; }

    std::size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    iterator begin() { return m_items.begin(); }
    iterator end() { return m_items.end(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }
    const CZarumateDataPtr& operator[](std::size_t index) const { return m_items[index]; }

private:
    bool IsValidIndex(int index) const;

    Container m_items;
    bool m_changed = false;
};

} // namespace zk
