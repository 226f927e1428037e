#include "base/download_url.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(PrepareDownloadUrl, CutsFormDataDecodesPlainEscapesAndTrims)
{
    EXPECT_EQ(PrepareDownloadUrl(L" \r\thttp://h/a%41%20b%2f%3F%e3%zz%4 \r\n::x=1::y"),
              L"http://h/aA b%2f%3F%e3%zz%4");
    EXPECT_EQ(PrepareDownloadUrl(L"http://h/?id=%20%41%20"), L"http://h/?id= A");
    EXPECT_EQ(PrepareDownloadUrl(L"%4"), L"%4");
}

} // namespace
} // namespace zk
