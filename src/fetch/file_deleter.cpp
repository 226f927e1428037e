#include "fetch/file_deleter.h"

#include "platform/file_ops.h"

#include <atomic>

namespace zk {
namespace {

std::atomic<unsigned> g_failedDeletions{0};

} // namespace

CFileDeleter::~CFileDeleter()
{
    if (m_path.empty())
        return;
    if (Failed(DeleteFileIfExists(m_path)))
        g_failedDeletions.fetch_add(1);
}

unsigned CFileDeleter::GetFailedCount()
{
    return g_failedDeletions.load();
}

} // namespace zk
