#include "probe/probe_features.h"

#include "base/path.h"
#include "fetch/drawing_surface.h"
#include "fetch/task_thread_pool.h"
#include "friends/avatar_cache.h"
#include "friends/zarumate_list_file.h"
#include "platform/file_ops.h"
#include "platform/system_clock.h"
#include "platform/text_convert.h"

#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <iterator>

namespace zk {

namespace {

// Hands the tasks the worker has run over to the probe's main thread.
class CFinishedTasks : public CDownloadImageTaskClient
{
public:
    void OnDownloadImageTaskEnd(std::shared_ptr<CDownloadImageTask> task) override
    {
        {
            std::lock_guard guard(m_lock);
            m_finished.push_back(std::move(task));
        }
        m_changed.notify_one();
    }

    std::shared_ptr<CDownloadImageTask> WaitForNext()
    {
        std::unique_lock guard(m_lock);
        m_changed.wait(guard, [this] { return !m_finished.empty(); });
        std::shared_ptr<CDownloadImageTask> task = std::move(m_finished.front());
        m_finished.pop_front();
        return task;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<CDownloadImageTask>> m_finished;
};

// Fetches the avatar of every friend on the image worker, the way the list
// view and the refresh command ask for them, and takes each result into the
// list as the main window does.
void FetchAvatars(CZarumateDataList& list)
{
    CFinishedTasks finished;
    CTaskThreadPool pool;
    std::size_t pending = 0;
    for (const CZarumateDataPtr& data : list) {
        // Without a cache file the stored time would skip a download that is
        // needed; with one it lets an unchanged image be skipped.
        if (!PathExists(data->GetImagePath()))
            data->m_imageModifiedTime = {};
        auto task = std::make_shared<CDownloadImageTask>();
        task->SetUrl(data->GetImageUrl());
        task->m_lastModified = data->m_imageModifiedTime;
        task->SetClient(&finished);
        pool.PushTask(std::move(task));
        ++pending;
    }
    if (pending == 0)
        return;
    pool.StartAll();
    for (; pending > 0; --pending) {
        std::shared_ptr<CDownloadImageTask> task = finished.WaitForNext();
        auto it = AttachImage(list, *task);
        std::uint32_t message = task->GetErr().GetId();
        if (it != list.end())
            std::printf("%s\t%u\n", PrintableText((*it)->m_id).c_str(),
                        static_cast<unsigned>(message));
        std::fflush(stdout);
    }
}

} // namespace

std::string PrintableText(const std::wstring& text)
{
    std::wstring shown;
    for (wchar_t c : text) {
        if (!IsControlChar(c)) {
            shown += c;
            continue;
        }
        wchar_t escape[8];
        std::swprintf(escape, std::size(escape), c < 0x80 ? L"\\x%02X" : L"\\u%04X",
                      static_cast<unsigned>(c));
        shown += escape;
    }
    return WideToUtf8(shown);
}

// The list is loaded and saved the way the program does at start and exit,
// with the reports merged as the main frame merges its found queue.

bool CProbeListSession::Begin(std::wstring& error)
{
    std::lock_guard guard(m_lock);
    CSimpleErr err;
    m_list.Clear();
    if (!LoadList(kDefaultListName, m_list, err)) {
        // As when the user declines to overwrite a list that did not load.
        error = err.GetText();
        return false;
    }
    return true;
}

void CProbeListSession::OnFound(const CZarumateDataPtr& data)
{
    if (!data)
        return;
    auto sighting = std::make_shared<CZarumateData>();
    sighting->CopyPersistent(*data);
    sighting->m_updateTime = GetSystemTimeUtc();
    std::lock_guard guard(m_lock);
    m_list.AddOrUpdate(sighting);
}

bool CProbeListSession::End(bool avatars, std::wstring& error)
{
    std::lock_guard guard(m_lock);
    if (avatars)
        FetchAvatars(m_list);
    CSimpleErr err;
    if (!SaveList(kDefaultListName, m_list, err)) {
        error = err.GetText();
        return false;
    }
    return true;
}

int RunThumbnails(const std::wstring& dir)
{
    CZarumateDataList list;
    CSimpleErr err;
    if (!LoadList(kDefaultListName, list, err)) {
        std::fprintf(stderr, "zarumatekit-probe: %s\n", WideToUtf8(err.GetText()).c_str());
        return 1;
    }
    if (HRESULT hr = CreateFolderTree(dir); Failed(hr)) {
        std::fprintf(stderr, "zarumatekit-probe: cannot create %s: %s\n", WideToUtf8(dir).c_str(),
                     WideToUtf8(GetSystemText(hr)).c_str());
        return 1;
    }
    int code = 0;
    for (const CZarumateDataPtr& data : list) {
        CSimpleErr thumbnailErr;
        PrepareThumbnail(*data, thumbnailErr);
        std::string id = PrintableText(data->m_id);
        std::printf("%s\t%u\n", id.c_str(), static_cast<unsigned>(thumbnailErr.GetId()));
        if (thumbnailErr.GetId() != 0 || !data->m_thumbnail)
            continue;
        // The id names the file, so it must stay a plain name inside dir. The
        // file is made afresh and renamed into place, so a link another user
        // left in dir under that name is replaced, never followed.
        std::string png;
        HRESULT hr = E_INVALIDARG;
        if (IsImageFileId(data->m_id) && EncodePng(*data->m_thumbnail, png) == CDrawStatus::Ok)
            hr = WriteFileAtomically(JoinPath(dir, data->m_id + L".png"), png);
        if (Failed(hr)) {
            std::fprintf(stderr, "zarumatekit-probe: cannot write the thumbnail of %s: %s\n",
                         id.c_str(), WideToUtf8(GetSystemText(hr)).c_str());
            code = 1;
        }
    }
    std::fflush(stdout);
    return code;
}

} // namespace zk
