#pragma once

#include "base/simple_err.h"
#include "friends/zarumate_data_list.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace zk {

// Writes a copy of the friend list to its file on a thread of its own, so
// that the window goes on while a long list is written. One write at a time:
// the exit's save waits for the one in flight, since both use the same
// temporary and backup files.
class CListSaver
{
public:
    CListSaver() = default;
    ~CListSaver() { Wait(); }
    CListSaver(const CListSaver&) = delete;
    CListSaver& operator=(const CListSaver&) = delete;

    // Starts writing the list to the named file of the folder. Only a copy
    // of what the file keeps is taken here, packed into one text buffer so
    // that even a long list is copied within a frame; the records are made
    // again and written on the saver's thread. False while an earlier write
    // still runs.
    bool Start(std::wstring folder, std::wstring name, const CZarumateDataList& list);
    bool IsBusy() const { return m_thread.joinable() && !m_done.load(); }
    // Waits for the write in flight, if any.
    void Wait();
    // Once per finished write: answers true and whether it succeeded (with
    // the reason when not). False while a write runs or none finished since.
    bool TakeResult(bool& saved, CSimpleErr& err);

private:
    // The saver's thread: the records again from the packed copy, then the
    // file.
    bool WritePacked(const std::wstring& folder, const std::wstring& name);

    std::thread m_thread;
    std::atomic<bool> m_done{false};
    bool m_resultTaken = true;
    // Written by the thread before it sets m_done, read after.
    bool m_saved = false;
    CSimpleErr m_err;

    // What the file keeps of one record; its texts lie in m_text.
    struct CPackedRecord
    {
        std::size_t idLength;
        std::size_t nameLength;
        SYSTEMTIME updateTime;
        SYSTEMTIME imageModifiedTime;
    };
    std::wstring m_text;
    std::vector<CPackedRecord> m_records;
};

} // namespace zk
