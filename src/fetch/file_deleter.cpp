#include "fetch/file_deleter.h"

#include "platform/file_ops.h"

namespace zk {

CFileDeleter::~CFileDeleter()
{
    // A deletion that fails is left as it is: there is nobody to tell.
    if (!m_path.empty())
        DeleteFileIfExists(m_path);
}

} // namespace zk
