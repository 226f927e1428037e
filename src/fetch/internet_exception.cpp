#include "fetch/internet_exception.h"

namespace zk {
namespace {

constexpr std::uint32_t kOperationMessages[] = {
    40182, // none
    40183, // set option
    40184, // query option
    40185, // open session
    40186, // connect
    40187, // read
    40189, // write
    40190, // data size
    40191, // open request
    40192, // send or end request
    40193, // query header
    40194, // unknown response
    40195, // open output file
    40196, // close handle
    40197, // set status callback
    40198, // cancelled
};

constexpr std::uint32_t kUnknownResponseMessage = 40194;

} // namespace

std::uint32_t MessageIdOfInternetOperation(int operation)
{
    constexpr int count =
        static_cast<int>(sizeof kOperationMessages / sizeof kOperationMessages[0]);
    if (operation < 0 || operation >= count)
        return kUnknownResponseMessage;
    return kOperationMessages[operation];
}

} // namespace zk
