#include "app/list_saver.h"

#include "friends/zarumate_list_file.h"

#include <utility>

namespace zk {

bool CListSaver::Start(std::wstring folder, std::wstring name, CZarumateDataList list)
{
    if (IsBusy())
        return false;
    Wait();
    m_list = std::move(list);
    m_err = CSimpleErr();
    m_saved = false;
    m_done = false;
    m_resultTaken = false;
    m_thread = std::thread([this, folder = std::move(folder), name = std::move(name)] {
        m_saved = SaveListIn(folder, name, m_list, m_err);
        m_list.Clear();
        m_done = true;
    });
    return true;
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
