#include "fetch/download_image_task_impl.h"

#include "fetch/file_deleter.h"
#include "fetch/image.h"
#include "platform/file_ops.h"

#include <new>

namespace zk {
namespace {

constexpr std::uint64_t kMaxImageFileSize = 0xFFFFFFFFull;

} // namespace

HRESULT CDownloadImageTaskImpl::LoadImageFile(std::shared_ptr<CImage>& image,
                                              const std::wstring& path)
{
    image.reset();
    std::uint64_t size = 0;
    HRESULT hr = QueryFileSize(path, size);
    if (Failed(hr))
        return hr;
    if (size >= kMaxImageFileSize)
        return E_NOT_ENOUGH_MEMORY;
    std::string data;
    try {
        hr = ReadWholeFile(path, data);
    } catch (const std::bad_alloc&) {
        return E_NOT_ENOUGH_MEMORY;
    }
    if (Failed(hr))
        return hr;
    image = DecodeImage(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    if (!image)
        return E_NOTIMPL;
    return S_OK;
}

void CDownloadImageTaskImpl::Execute(CDownloadProgressCallback& progress, CSimpleErr& err)
{
    Download(progress, err);
    if (err.GetId() != 0)
        return;
    HRESULT hr = LoadImageFile(m_image, m_downloadedFile);
    if (Failed(hr)) {
        err.SetErr(kMsgImageLoadFailed, hr);
        CFileDeleter unusable(m_downloadedFile);
        m_downloadedFile.clear();
    }
}

} // namespace zk
