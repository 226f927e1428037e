#pragma once

#include <deque>
#include <memory>
#include <string>

#include "base/simple_err.h"
#include "fetch/image_fwd.h"
#include "platform/system_time.h"

namespace zk {

// One friend: a person whose microblog page crossed the watched adapter.
class CZarumateData
{
public:
    std::wstring m_id;
    std::wstring m_name;
    SYSTEMTIME m_updateTime{};
    SYSTEMTIME m_imageModifiedTime{};
    std::shared_ptr<CImage> m_image;
    std::shared_ptr<CImage> m_thumbnail;
    CSimpleErr m_error;
};

using CZarumateDataPtr = std::shared_ptr<CZarumateData>;

} // namespace zk
