#pragma once

#include "friends/zarumate_data_list.h"

#include <mutex>
#include <string>

namespace zk {

// Scraped text as the probe prints it, in UTF-8: a control character, which
// a terminal would act on, is written as \xHH (\u00HH for U+0080 to
// U+009F).
std::string PrintableText(const std::wstring& text);

// Keeps what one probe run finds in the friend list (--save): Begin loads the
// list before the run, OnFound merges each person as they are found (on the
// capture thread during a live run), End fetches their avatars when asked
// and writes the list. Begin and End return false with the reason in error.
class CProbeListSession
{
public:
    bool Begin(std::wstring& error);
    void OnFound(const CZarumateDataPtr& data);
    bool End(bool avatars, std::wstring& error);

private:
    // Reports of a live run arrive on the capture thread.
    std::mutex m_lock;
    CZarumateDataList m_list;
};

// Writes the round thumbnails of the avatar cache into dir (--thumbnails);
// returns the probe's exit code.
int RunThumbnails(const std::wstring& dir);

} // namespace zk
