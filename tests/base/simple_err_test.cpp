#include "base/message_format.h"
#include "base/simple_err.h"
#include "res/string_table.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(SimpleErr, IdAloneGivesTheMessageItself)
{
    CSimpleErr err;
    err.SetErr(4004);
    EXPECT_EQ(err.GetId(), 4004u);
    EXPECT_EQ(err.GetResult(), 0);
    EXPECT_EQ(err.GetText(), L"ネットワークアドレスが1つもありません");
}

TEST(SimpleErr, ResultCodeFillsTheMessageWithItsSystemText)
{
    CSimpleErr err;
    err.SetErr(4002, HresultFromErrno(EPERM));
    EXPECT_EQ(err.GetResult(), HresultFromErrno(EPERM));
    EXPECT_EQ(err.GetText(), L"ソケットの作成に失敗しました - " + GetErrnoText(EPERM));
}

TEST(SimpleErr, DetailTextFillsTheMessage)
{
    CSimpleErr err;
    err.SetErr(4005, std::wstring_view(L"詳細"));
    EXPECT_EQ(err.GetText(), L"ソケットをアドレスにバインドできませんでした - 詳細");
}

TEST(SimpleErr, CodeAndFurtherTextFillBothPlaces)
{
    CSimpleErr err;
    err.SetErr(1214, E_FAIL, L"/root/item");
    EXPECT_EQ(err.GetId(), 1214u);
    EXPECT_EQ(err.GetText(),
              L"XMLドキュメント指定のノードが見つかりません - Unspecified error\n\n/root/item");
}

TEST(SimpleErr, NumberFillsPercentD)
{
    CSimpleErr err;
    err.SetErrNumber(4900, 12345);
    EXPECT_EQ(err.GetText(), L"不明な WinSock エラー: 12345");
}

TEST(SimpleErr, MissingStringGivesEmptyText)
{
    CSimpleErr err;
    err.SetErr(7, E_FAIL);
    EXPECT_EQ(err.GetId(), 7u);
    EXPECT_TRUE(err.GetText().empty());
}

TEST(SimpleErr, FormattedTextIsCutAtMessageLengthPlus1024)
{
    CSimpleErr err;
    std::wstring detail(5000, L'x');
    err.SetErr(4005, std::wstring_view(detail));
    std::wstring message = LoadString(4005);
    EXPECT_EQ(err.GetText().size(), message.size() + CSimpleErr::kFormatSlack);
}

TEST(SimpleErr, ClearForgetsEverything)
{
    CSimpleErr err;
    err.SetErr(4002, E_FAIL);
    err.Clear();
    EXPECT_FALSE(err.HasErr());
    EXPECT_EQ(err.GetResult(), 0);
    EXPECT_TRUE(err.GetText().empty());
}

TEST(MessageFormat, DirectivesTakeArgumentsInOrderAndKeepPercentSigns)
{
    EXPECT_EQ(FormatMessageText(L"%s と過去の計 %d 人", {std::wstring_view(L"A"), 3LL}, 100),
              L"A と過去の計 3 人");
    EXPECT_EQ(FormatMessageText(L"100%% %x", {}, 100), L"100% %x");
    // A missing or mismatched argument is left out, never read from elsewhere.
    EXPECT_EQ(FormatMessageText(L"[%s][%d]", {7LL}, 100), L"[][]");
}

TEST(SystemText, UnknownCodesShowTheirHexadecimalValue)
{
    EXPECT_EQ(GetSystemText(static_cast<HRESULT>(0x8badf00du)), L"Unknown HRESULT: 8badf00d");
    EXPECT_EQ(GetSystemText(E_ABORT), L"Operation aborted");
}

} // namespace
} // namespace zk
