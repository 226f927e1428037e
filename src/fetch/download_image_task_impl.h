#pragma once

#include "fetch/download_task_impl.h"
#include "fetch/image_fwd.h"

#include <memory>
#include <string>

namespace zk {

// A download whose file must be an image: after the transfer the file is
// decoded, so that the caller gets the picture along with the file.
class CDownloadImageTaskImpl : public CDownloadTaskImpl
{
public:
    // Downloads, then decodes. A file that is no image gives 2002 with the
    // decoder's result; the file is then deleted at once, since nobody can
    // use it.
    void Execute(CDownloadProgressCallback& progress, CSimpleErr& err);

    // Reads a whole image file into memory and decodes it from there, so
    // the file can be moved or deleted right after. E_NOTIMPL for data that
    // is no image, 0x80070008 for a file of 4 GiB or more.
    static HRESULT LoadImageFile(std::shared_ptr<CImage>& image, const std::wstring& path);

    std::shared_ptr<CImage> m_image;
};

} // namespace zk
