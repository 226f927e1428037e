#include "base/portal_hosts.h"
#include "fetch/download_image_task.h"
#include "fetch/image.h"
#include "friends/zarumate_data_list.h"
#include "platform/text_convert.h"
#include "support/scoped_env.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

CZarumateDataPtr Person(const wchar_t* id, const wchar_t* name, std::uint16_t minute = 0)
{
    auto data = std::make_shared<CZarumateData>();
    data->m_id = id;
    data->m_name = name;
    data->m_updateTime = SYSTEMTIME{2010, 5, 0, 1, 9, minute, 0, 0};
    return data;
}

std::wstring Ids(const CZarumateDataList& list)
{
    std::wstring ids;
    for (const auto& data : list)
        ids += data->m_id + L" ";
    return ids;
}

// A list of c (front), b, a (back), as three sightings leave it.
CZarumateDataList ThreeSeen()
{
    CZarumateDataList list;
    list.AddOrUpdate(Person(L"a", L"A"));
    list.AddOrUpdate(Person(L"b", L"B"));
    list.AddOrUpdate(Person(L"c", L"C"));
    list.SetChanged(false);
    return list;
}

TEST(ZarumateDataListMerge, NewPersonGoesToTheFront)
{
    CZarumateDataList list = ThreeSeen();
    EXPECT_EQ(Ids(list), L"c b a ");
    list.AddOrUpdate(Person(L"d", L"D"));
    EXPECT_EQ(Ids(list), L"d c b a ");
    EXPECT_TRUE(list.IsChanged());
}

TEST(ZarumateDataListMerge, RepeatedSightingKeepsTheRecordAndTakesNameAndTime)
{
    CZarumateDataList list = ThreeSeen();
    CZarumateDataPtr front = list[0];
    front->m_imageModifiedTime = SYSTEMTIME{2009, 1, 0, 2, 3, 4, 5, 6};
    front->m_error.SetErr(130);
    auto thumbnail = std::make_shared<CImage>(38, 38);
    front->m_thumbnail = thumbnail;

    list.AddOrUpdate(Person(L"c", L"C2", 30));

    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], front);
    EXPECT_EQ(front->m_name, L"C2");
    EXPECT_EQ(front->m_updateTime.wMinute, 30);
    EXPECT_EQ(front->m_imageModifiedTime, (SYSTEMTIME{2009, 1, 0, 2, 3, 4, 5, 6}));
    EXPECT_EQ(front->m_thumbnail, thumbnail);
    EXPECT_EQ(front->m_error.GetId(), 130u);
    EXPECT_TRUE(list.IsChanged());
}

TEST(ZarumateDataListMerge, PersonFoundFurtherBackMovesToTheFront)
{
    CZarumateDataList list = ThreeSeen();
    CZarumateDataPtr third = list[2];
    list.AddOrUpdate(Person(L"a", L"A2", 7));
    EXPECT_EQ(Ids(list), L"a c b ");
    EXPECT_EQ(list[0], third);
    EXPECT_EQ(third->m_name, L"A2");
    EXPECT_EQ(third->m_updateTime.wMinute, 7);
}

TEST(ZarumateDataListMerge, IdsCompareWholeAndCaseSensitive)
{
    CZarumateDataList list = ThreeSeen();
    list.AddOrUpdate(Person(L"A", L"upper"));
    list.AddOrUpdate(Person(L"ab", L"longer"));
    EXPECT_EQ(Ids(list), L"ab A c b a ");
}

TEST(ZarumateDataListFind, DuplicatesFromAFileFindTheFirst)
{
    CZarumateDataList list;
    list.PushBack(Person(L"x", L"first"));
    list.PushBack(Person(L"x", L"second"));
    EXPECT_EQ((*list.FindById(L"x"))->m_name, L"first");
    EXPECT_EQ(list.FindById(L"y"), list.end());
}

// A download finds its friend by the URL its task keeps, which is the image
// URL after the task has decoded and trimmed it.
TEST(ZarumateDataListFind, DownloadFindsTheFriendItWasMadeFor)
{
    CZarumateDataList list;
    for (const wchar_t* id : {L"b", L"anicknimboId=b", L"a%41b", L"aAb", L"c d ", L"e\t"})
        list.PushBack(Person(id, L"N"));
    for (const auto& data : list) {
        CDownloadImageTask task;
        task.SetUrl(data->GetImageUrl());
        auto found = list.FindByImageUrl(task.m_url);
        ASSERT_NE(found, list.end()) << WideToUtf8(data->m_id);
        // Ids that read the same once decoded find the first of them.
        EXPECT_EQ(*found, data->m_id == L"aAb" ? list[2] : data) << WideToUtf8(data->m_id);
    }
    EXPECT_EQ(list.FindByImageUrl(L"http://h/?nimboId=b"), list.end());
    EXPECT_EQ(list.FindByImageUrl(list[0]->GetImageUrl() + L"&x=1"), list.end());
}

TEST(ZarumateDataListRemove, OutOfRangeIndexesChangeNothing)
{
    CZarumateDataList list = ThreeSeen();
    for (int index : {-1, 3, 100}) {
        list.RemoveAt(index);
        list.RemoveFrom(index);
    }
    EXPECT_EQ(Ids(list), L"c b a ");
    EXPECT_FALSE(list.IsChanged());
}

TEST(ZarumateDataListRemove, RemoveAtTakesOneEntry)
{
    CZarumateDataList list = ThreeSeen();
    list.RemoveAt(1);
    EXPECT_EQ(Ids(list), L"c a ");
    EXPECT_TRUE(list.IsChanged());
}

TEST(ZarumateDataListRemove, RemoveFromTakesTheEntryAndEveryOlderOne)
{
    CZarumateDataList list = ThreeSeen();
    list.RemoveFrom(1);
    EXPECT_EQ(Ids(list), L"c ");
    list.RemoveFrom(0);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.IsChanged());
}

TEST(ZarumateDataListCopy, CopySharesNoRecordAndCarriesNoImagesOrErrors)
{
    CZarumateDataList source = ThreeSeen();
    source[0]->m_imageModifiedTime = SYSTEMTIME{2011, 2, 0, 3, 4, 5, 6, 7};
    source[0]->m_image = std::make_shared<CImage>(2, 2);
    source[0]->m_error.SetErr(130);

    CZarumateDataList copy;
    copy.PushBack(Person(L"old", L"old"));
    copy.CopyFrom(source);

    ASSERT_EQ(Ids(copy), L"c b a ");
    for (std::size_t i = 0; i < copy.size(); ++i)
        EXPECT_NE(copy[i], source[i]);
    EXPECT_EQ(copy[0]->m_name, L"C");
    EXPECT_EQ(copy[0]->m_updateTime, source[0]->m_updateTime);
    EXPECT_EQ(copy[0]->m_imageModifiedTime, source[0]->m_imageModifiedTime);
    EXPECT_FALSE(copy[0]->m_image);
    EXPECT_FALSE(copy[0]->m_error.HasErr());
}

TEST(ZarumateDataRecord, SetImageDropsTheStaleThumbnail)
{
    CZarumateData data;
    data.m_thumbnail = std::make_shared<CImage>(38, 38);
    auto image = std::make_shared<CImage>(2, 2);
    data.SetImage(image);
    EXPECT_EQ(data.m_image, image);
    EXPECT_FALSE(data.m_thumbnail);
}

TEST(ZarumateDataRecord, PagesAndImagePathUseTheIdVerbatim)
{
    test::CTempDir dir;
    test::CScopedEnv env("XDG_DATA_HOME", dir.Path().string());
    CZarumateData data;
    data.m_id = L"ab&c d";
    auto http = [](const wchar_t* host) { return std::wstring(L"http://") + host; };
    EXPECT_EQ(data.GetGamePageUrl(), http(kGameHost) + L"/?targetNimboId=ab&c d");
    EXPECT_EQ(data.GetLifePageUrl(), http(kLifeHost) + L"/user/ab&c d");
    EXPECT_EQ(data.GetBlogUrl(), http(kBlogHost) + L"/ab&c d");
    EXPECT_EQ(data.GetMicroblogUrl(), http(kMicroblogHost) + L"/ab&c d");
    EXPECT_EQ(data.GetImageUrl(),
              http(kImageHost) + L"/shop/original/zaru/user/image?nimboId=ab&c d");
    EXPECT_EQ(data.GetImagePath(),
              dir.Path().wstring() + L"/Brindlewerk/Zarumatekit/Image/ab&c d.png");
}

} // namespace
} // namespace zk
