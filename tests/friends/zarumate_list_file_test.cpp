#include "friends/zarumate_list_file.h"
#include "platform/file_ops.h"
#include "platform/text_convert.h"
#include "support/file_traps.h"
#include "support/scoped_env.h"
#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace zk {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHead =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<ZarumateDataList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n";
constexpr const char* kTail = "</ZarumateDataList>\n";

std::string Record(const std::string& id, const std::string& name, const std::string& update,
                   const std::string& image = "0")
{
    return "<ZarumateData><id>" + id + "</id><name>" + name + "</name><updateTime>" + update +
           "</updateTime><imageModifiedTime>" + image + "</imageModifiedTime></ZarumateData>\n";
}

CZarumateDataPtr Person(const std::wstring& id, const std::wstring& name)
{
    auto data = std::make_shared<CZarumateData>();
    data->m_id = id;
    data->m_name = name;
    data->m_updateTime = SYSTEMTIME{2010, 5, 0, 1, 9, 5, 3, 7};
    return data;
}

// A data folder of its own for every test, as $XDG_DATA_HOME points it.
class ListFileTest : public ::testing::Test
{
protected:
    ListFileTest()
        : m_env("XDG_DATA_HOME", m_home.Path().string()),
          m_folder(m_home.Path() / "Brindlewerk" / "Zarumatekit")
    {}
    ~ListFileTest() override { ClearFileFailures(); }

    fs::path File(const char* name) const { return m_folder / name; }
    fs::path List() const { return File("DefaultList.config"); }

    void Write(const fs::path& path, const std::string& bytes)
    {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    bool Load(CZarumateDataList& list) { return LoadList(kDefaultListName, list, m_err); }
    bool Save(const CZarumateDataList& list) { return SaveList(kDefaultListName, list, m_err); }

    CZarumateDataList ListOf(int count)
    {
        CZarumateDataList list;
        for (int i = 0; i < count; ++i)
            list.PushBack(Person(L"id" + std::to_wstring(i), L"name" + std::to_wstring(i)));
        return list;
    }

    test::CTempDir m_home;
    test::CScopedEnv m_env;
    fs::path m_folder;
    CSimpleErr m_err;
};

TEST_F(ListFileTest, NoFileIsAnEmptyListWithoutMessage)
{
    CZarumateDataList list;
    EXPECT_TRUE(Load(list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(m_err.HasErr());
}

TEST_F(ListFileTest, EmptyRootIsAnEmptyList)
{
    Write(List(), std::string(kHead) + kTail);
    CZarumateDataList list;
    EXPECT_TRUE(Load(list));
    EXPECT_TRUE(list.empty());
}

TEST_F(ListFileTest, RecordsWithoutIdOrNameAreSkippedAndDuplicatesStay)
{
    Write(List(), std::string(kHead) + Record("a", "A", "0") +
                      "<ZarumateData><id>b</id><updateTime>0</updateTime></ZarumateData>\n" +
                      "<ZarumateData><name>C</name></ZarumateData>\n" + Record("a", "A2", "0") +
                      "<ZarumateData><id>d</id><name>D</name></ZarumateData>\n" + kTail);
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->m_name, L"A");
    EXPECT_EQ(list[1]->m_name, L"A2");
    EXPECT_EQ(list[2]->m_id, L"d");
    // Missing times are zero.
    EXPECT_EQ(list[2]->m_updateTime, SYSTEMTIME{});
}

TEST_F(ListFileTest, TimesAreReadInAnyShapeAndWrittenBackInTheListForm)
{
    Write(List(), std::string(kHead) + Record("zero", "Z", "0") +
                      Record("kanji", "K", "2010年5月1日 9時5分3秒", "2010/5/1") +
                      Record("junk", "J", "someday") + kTail);
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->m_updateTime, SYSTEMTIME{});
    EXPECT_EQ(list[1]->m_updateTime, (SYSTEMTIME{2010, 5, 0, 1, 9, 5, 3, 0}));
    EXPECT_EQ(list[1]->m_imageModifiedTime, (SYSTEMTIME{2010, 5, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(list[2]->m_updateTime, (SYSTEMTIME{0, 1, 0, 1, 0, 0, 0, 0}));

    ASSERT_TRUE(Save(list));
    std::string saved = Read(List());
    EXPECT_NE(saved.find("<updateTime>0</updateTime>"), std::string::npos);
    EXPECT_NE(saved.find("<updateTime>2010/05/01 9:05:03.0</updateTime>"), std::string::npos);
    EXPECT_NE(saved.find("<imageModifiedTime>2010/05/01 0:00:00.0</imageModifiedTime>"),
              std::string::npos);
    EXPECT_NE(saved.find("<updateTime>?/?/? 0:00:00.0</updateTime>"), std::string::npos);
}

TEST_F(ListFileTest, SavedFileHasTheListShapeAndReadsBackTheSame)
{
    CZarumateDataList list;
    list.PushBack(Person(L"u1", L"ざる<&>まて"));
    list.PushBack(Person(L"u2", L"二人目"));
    list[1]->m_imageModifiedTime = SYSTEMTIME{2009, 12, 0, 31, 23, 59, 59, 999};
    ASSERT_TRUE(Save(list));

    std::string saved = Read(List());
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n", 0), 0u);
    EXPECT_NE(saved.find("<ZarumateDataList xmlns:xsi=\"http://www.w3.org/2001/"
                         "XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">"),
              std::string::npos);
    std::size_t id = saved.find("<id>u1</id>");
    std::size_t name = saved.find("<name>" + WideToUtf8(L"ざる&lt;&amp;&gt;まて") + "</name>");
    std::size_t update = saved.find("<updateTime>2010/05/01 9:05:03.7</updateTime>");
    std::size_t image = saved.find("<imageModifiedTime>0</imageModifiedTime>");
    ASSERT_NE(id, std::string::npos);
    EXPECT_LT(id, name);
    EXPECT_LT(name, update);
    EXPECT_LT(update, image);
    EXPECT_LT(image, saved.find("<id>u2</id>"));
    EXPECT_FALSE(fs::exists(File("tmpList.config")));

    CZarumateDataList loaded;
    ASSERT_TRUE(Load(loaded));
    ASSERT_EQ(loaded.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(loaded[i]->m_id, list[i]->m_id);
        EXPECT_EQ(loaded[i]->m_name, list[i]->m_name);
        EXPECT_EQ(loaded[i]->m_updateTime, list[i]->m_updateTime);
        EXPECT_EQ(loaded[i]->m_imageModifiedTime, list[i]->m_imageModifiedTime);
    }
}

TEST_F(ListFileTest, BackupIsMadeOnlyWhenTheNewFileIsSmaller)
{
    ASSERT_TRUE(Save(ListOf(3)));
    std::string three = Read(List());
    ASSERT_TRUE(Save(ListOf(3)));
    EXPECT_FALSE(fs::exists(File("BackupList.config"))) << "same size";
    ASSERT_TRUE(Save(ListOf(4)));
    EXPECT_FALSE(fs::exists(File("BackupList.config"))) << "larger";

    std::string four = Read(List());
    ASSERT_TRUE(Save(ListOf(2)));
    EXPECT_EQ(Read(File("BackupList.config")), four);
    ASSERT_TRUE(Save(ListOf(3)));
    EXPECT_EQ(Read(File("BackupList.config")), four) << "a larger save keeps the backup";
    EXPECT_EQ(Read(List()), three);
}

TEST_F(ListFileTest, RecordSkippedAtLoadShrinksTheFileAndTheOldOneIsBackedUp)
{
    std::string old = std::string(kHead) + Record("a", "A", "0") +
                      "<ZarumateData><id>b</id></ZarumateData>\n" + kTail;
    Write(List(), old);
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    ASSERT_TRUE(Save(list));
    EXPECT_EQ(Read(File("BackupList.config")), old);
}

TEST_F(ListFileTest, DamagedFileFailsWith2011AndStaysAsItWas)
{
    const std::string truncated = std::string(kHead) + Record("a", "A", "0").substr(0, 30);
    const std::string whole = std::string(kHead) + Record("a", "A", "0") + kTail;
    // Names saved as Shift_JIS under a UTF-8 declaration, a second list
    // after the first, and text after the list.
    const std::string shiftJis = std::string(kHead) + Record("a", "\x82\xb4\x82\xe9", "0") + kTail;
    for (const std::string& damaged :
         {truncated, std::string("not xml at all"), std::string("<?xml version=\"1.0\"?><other/>"),
          shiftJis, whole + "<ZarumateDataList>" + Record("b", "B", "0") + kTail,
          whole + "garbage"}) {
        Write(List(), damaged);
        CZarumateDataList list;
        list.PushBack(Person(L"keep", L"K"));
        EXPECT_FALSE(Load(list));
        EXPECT_EQ(m_err.GetId(), 2011u);
        EXPECT_EQ(m_err.GetText(),
                  L"Zarumateリストの読み込みに失敗しました\n\n" + List().wstring());
        EXPECT_EQ(list.size(), 1u);
        EXPECT_EQ(Read(List()), damaged);
    }
}

TEST_F(ListFileTest, FolderInPlaceOfTheListFailsToLoadAndToSave)
{
    fs::create_directories(List());
    CZarumateDataList list;
    EXPECT_FALSE(Load(list));
    EXPECT_EQ(m_err.GetId(), 2011u);
    EXPECT_FALSE(Save(ListOf(1)));
    EXPECT_EQ(m_err.GetId(), 2010u);
    EXPECT_TRUE(fs::is_directory(List()));
}

TEST_F(ListFileTest, SaveInterruptedBeforeTheMoveLosesNothing)
{
    ASSERT_TRUE(Save(ListOf(2)));
    std::string old = Read(List());

    InjectFileFailure(CFileOp::Move, HresultFromErrno(EIO));
    EXPECT_FALSE(Save(ListOf(5)));
    EXPECT_EQ(m_err.GetId(), 2010u);
    EXPECT_EQ(m_err.GetText(), L"Zarumateリストのリネームに失敗しました\n\n" + List().wstring() +
                                   L"\n\n" + GetSystemText(HresultFromErrno(EIO)));
    EXPECT_EQ(Read(List()), old);
    EXPECT_TRUE(fs::exists(File("tmpList.config")));

    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    EXPECT_EQ(list.size(), 2u);
    // The next save writes over the leftover temporary file.
    ASSERT_TRUE(Save(ListOf(5)));
    list.Clear();
    ASSERT_TRUE(Load(list));
    EXPECT_EQ(list.size(), 5u);
}

TEST_F(ListFileTest, ALinkPlantedAsTheTemporaryFileIsReplacedNotFollowed)
{
    Write(File("victim"), "keep");
    fs::create_symlink(File("victim"), File("tmpList.config"));
    ASSERT_TRUE(Save(ListOf(1)));
    EXPECT_EQ(Read(File("victim")), "keep");
    EXPECT_FALSE(fs::is_symlink(List()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(File("tmpList.config"))));
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    EXPECT_EQ(list.size(), 1u);
}

TEST_F(ListFileTest, FailedBackupStopsTheSaveBeforeTheListIsTouched)
{
    ASSERT_TRUE(Save(ListOf(3)));
    std::string old = Read(List());
    InjectFileFailure(CFileOp::Copy, HresultFromErrno(ENOSPC));
    EXPECT_FALSE(Save(ListOf(1)));
    EXPECT_EQ(m_err.GetId(), 2009u);
    EXPECT_EQ(m_err.GetText(), L"Zarumateリストのバックアップ作成に失敗しました\n\n" +
                                   File("BackupList.config").wstring() + L"\n\n" +
                                   GetSystemText(HresultFromErrno(ENOSPC)));
    EXPECT_EQ(Read(List()), old);
    EXPECT_FALSE(fs::exists(File("BackupList.config")));
}

TEST_F(ListFileTest, FailedSizeOfTheNewFileNamesTheSystemReason)
{
    InjectFileFailure(CFileOp::Size, HresultFromErrno(EIO));
    EXPECT_FALSE(Save(ListOf(1)));
    EXPECT_EQ(m_err.GetId(), 2008u);
    EXPECT_EQ(m_err.GetResult(), HresultFromErrno(EIO));
    EXPECT_EQ(m_err.GetText(), L"Zarumateリストのファイルサイズ取得に失敗しました - " +
                                   GetSystemText(HresultFromErrno(EIO)) + L"\n\n" +
                                   File("tmpList.config").wstring());
    EXPECT_FALSE(fs::exists(List()));
}

TEST_F(ListFileTest, DataFolderThatCannotBeMadeFailsWith2013)
{
    Write(m_home.Path() / "Brindlewerk", "a file where the folder should be");
    EXPECT_FALSE(Save(ListOf(1)));
    EXPECT_EQ(m_err.GetId(), 2013u);
    EXPECT_EQ(m_err.GetText(), L"保存先フォルダーの作成に失敗しました\n\n" + m_folder.wstring() +
                                   L"\n\n" + GetSystemText(HresultFromErrno(ENOTDIR)));
}

TEST_F(ListFileTest, TempFileThatCannotBeWrittenFailsWith2007)
{
    fs::create_directories(File("tmpList.config") / "inside");
    EXPECT_FALSE(Save(ListOf(1)));
    EXPECT_EQ(m_err.GetId(), 2007u);
    EXPECT_EQ(m_err.GetText(), L"Zarumateリストの保存に失敗しました\n\n" +
                                   File("tmpList.config").wstring() + L"\n\n" +
                                   GetSystemText(HresultFromErrno(EISDIR)));
}

// ---- Files that are not what they claim ---------------------------------

std::size_t CountFiles(const fs::path& folder)
{
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST_F(ListFileTest, FifoAsTheListIsADamagedFileNeverAHangAlsoWhenSwappedInLater)
{
    fs::create_directories(m_folder);
    ASSERT_EQ(::mkfifo(List().c_str(), 0600), 0);
    CZarumateDataList list;
    bool loaded = true;
    ASSERT_TRUE(test::ReturnsDespiteFifo(List(), [&] { loaded = Load(list); }));
    EXPECT_FALSE(loaded);
    EXPECT_EQ(m_err.GetId(), 2011u);
    EXPECT_EQ(m_err.GetResult(), E_NOT_REGULAR_FILE);
    EXPECT_NE(m_err.GetText().find(GetSystemText(E_NOT_REGULAR_FILE)), std::wstring::npos);

    // A list saved, then a FIFO put in its place while the program runs.
    fs::remove(List());
    ASSERT_TRUE(Save(ListOf(2)));
    fs::remove(List());
    ASSERT_EQ(::mkfifo(List().c_str(), 0600), 0);
    bool saved = true;
    ASSERT_TRUE(test::ReturnsDespiteFifo(List(), [&] { saved = Save(ListOf(3)); }));
    EXPECT_FALSE(saved);
    EXPECT_EQ(m_err.GetId(), 2010u);
    EXPECT_EQ(m_err.GetText(), L"Zarumateリストのリネームに失敗しました\n\n" + List().wstring() +
                                   L"\n\n" + GetSystemText(E_NOT_REGULAR_FILE));
    EXPECT_EQ(fs::status(List()).type(), fs::file_type::fifo);
}

TEST_F(ListFileTest, FifoAsTheBackupOrTheTemporaryFileIsReplacedWithoutWaiting)
{
    ASSERT_TRUE(Save(ListOf(3)));
    ASSERT_EQ(::mkfifo(File("BackupList.config").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(File("tmpList.config").c_str(), 0600), 0);
    bool saved = false;
    ASSERT_TRUE(
        test::ReturnsDespiteFifo(File("BackupList.config"), [&] { saved = Save(ListOf(1)); }));
    EXPECT_TRUE(saved) << m_err.GetText();
    EXPECT_TRUE(fs::is_regular_file(File("BackupList.config")));
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    EXPECT_EQ(list.size(), 1u);
}

TEST_F(ListFileTest, DeviceAsTheListIsRefusedAndLeftAlone)
{
    fs::create_directories(m_folder);
    fs::create_symlink("/dev/null", List());
    CZarumateDataList list;
    EXPECT_FALSE(Load(list));
    EXPECT_EQ(m_err.GetResult(), E_NOT_REGULAR_FILE);
    EXPECT_FALSE(Save(ListOf(1)));
    EXPECT_EQ(m_err.GetId(), 2010u);
    EXPECT_EQ(m_err.GetResult(), E_NOT_REGULAR_FILE);
    EXPECT_TRUE(fs::is_symlink(List()));
    EXPECT_FALSE(fs::exists(File("BackupList.config")));
}

TEST_F(ListFileTest, ExistingListKeepsItsModeAndANewOneIsPrivate)
{
    ASSERT_TRUE(Save(ListOf(2)));
    EXPECT_EQ(fs::status(List()).permissions() & fs::perms::mask, fs::perms(0600));
    fs::permissions(List(), fs::perms(0644));
    ASSERT_TRUE(Save(ListOf(3)));
    EXPECT_EQ(fs::status(List()).permissions() & fs::perms::mask, fs::perms(0644));
    // A smaller list backs the old one up with the same mode.
    ASSERT_TRUE(Save(ListOf(1)));
    EXPECT_EQ(fs::status(List()).permissions() & fs::perms::mask, fs::perms(0644));
    EXPECT_EQ(fs::status(File("BackupList.config")).permissions() & fs::perms::mask,
              fs::perms(0644));
}

TEST_F(ListFileTest, TemporaryFilesOfAKilledSaveAreRemovedAndNothingElse)
{
    Write(List(), std::string(kHead) + Record("a", "A", "0") + kTail);
    const char* stale[] = {"tmpList.config", "tmpList.config.Ab3xYz", "BackupList.config.000000",
                           "DefaultList.config.q1W2e3"};
    const char* kept[] = {"BackupList.config",  "tmpList.config.toolong7",
                          "tmpList.config.abc", "tmpList.config.ab-cde",
                          "notes.txt",          "DefaultList-20260101-120000.config"};
    for (const char* name : stale)
        Write(File(name), "x");
    for (const char* name : kept)
        Write(File(name), "x");
    fs::create_directories(File("BackupList.config.Folder"));
    fs::create_symlink(File("notes.txt"), File("tmpList.config.Link01"));

    RemoveStaleListFiles();
    for (const char* name : stale)
        EXPECT_FALSE(fs::exists(File(name))) << name;
    for (const char* name : kept)
        EXPECT_TRUE(fs::exists(File(name))) << name;
    EXPECT_TRUE(fs::exists(List()));
    EXPECT_TRUE(fs::is_directory(File("BackupList.config.Folder")));
    EXPECT_TRUE(fs::is_symlink(File("tmpList.config.Link01")));
}

TEST_F(ListFileTest, FullDiskFailsWithTheReasonAndKeepsTheOldListWithoutLeftovers)
{
    ZK_REQUIRE_MOUNT();
    test::CScopedTmpfs disk(m_folder, "size=32k,mode=0700");
    ASSERT_TRUE(disk.Ok()) << disk.Error();
    ASSERT_TRUE(Save(ListOf(3)));
    std::string old = Read(List());

    EXPECT_FALSE(Save(ListOf(2000)));
    EXPECT_EQ(m_err.GetId(), 2007u);
    EXPECT_EQ(m_err.GetResult(), HresultFromErrno(ENOSPC));
    EXPECT_NE(m_err.GetText().find(GetSystemText(HresultFromErrno(ENOSPC))), std::wstring::npos);
    EXPECT_EQ(Read(List()), old);
    EXPECT_EQ(CountFiles(m_folder), 1u);
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    EXPECT_EQ(list.size(), 3u);
}

TEST_F(ListFileTest, ReadOnlyFolderFailsWithTheReasonAndStillLoads)
{
    ZK_REQUIRE_MOUNT();
    test::CScopedTmpfs disk(m_folder, "size=1m,mode=0700");
    ASSERT_TRUE(disk.Ok()) << disk.Error();
    ASSERT_TRUE(Save(ListOf(3)));
    std::string old = Read(List());
    ASSERT_TRUE(disk.MakeReadOnly()) << disk.Error();

    EXPECT_FALSE(Save(ListOf(4)));
    EXPECT_EQ(m_err.GetId(), 2007u);
    EXPECT_EQ(m_err.GetResult(), HresultFromErrno(EROFS));
    EXPECT_EQ(Read(List()), old);
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    EXPECT_EQ(list.size(), 3u);
}

// ---- What a record may hold -----------------------------------------------

TEST_F(ListFileTest, ControlCharactersNeverReachTheFileAndItReadsBackTheSame)
{
    CZarumateDataList list;
    list.PushBack(Person(std::wstring(L"bob\0evil", 8), L"B"));
    list.PushBack(Person(L"bob", L"mochi\x1b[31m\tred\x85"));
    list.PushBack(Person(L"tab\tid", L"T"));
    list.PushBack(Person(L"ok", L"fine"));
    ASSERT_TRUE(Save(list));
    std::string file = Read(List());
    for (unsigned char c : file)
        EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\t') << static_cast<int>(c);
    EXPECT_EQ(file.find("&#"), std::string::npos) << file;

    CZarumateDataList back;
    ASSERT_TRUE(Load(back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0]->m_id, L"bob");
    EXPECT_EQ(back[0]->m_name, L"mochi\xFFFD[31m red ");
    EXPECT_EQ(back[1]->m_id, L"ok");
    // Written again, the file is the same bytes.
    ASSERT_TRUE(Save(back));
    EXPECT_EQ(Read(List()), file);
}

TEST_F(ListFileTest, ReferencesToControlCharactersInAFileAreNoIdAndNoName)
{
    Write(List(), std::string(kHead) + Record("x&#27;", "X", "0") + Record("ok", "a&#27;b", "0") +
                      Record("y&#x9F;", "Y", "0") + kTail);
    CZarumateDataList list;
    ASSERT_TRUE(Load(list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->m_id, L"ok");
    EXPECT_EQ(list[0]->m_name, L"a\xFFFD"
                               L"b");
}

TEST(EnsureFolder, CreatesMissingParentsAndAcceptsAnExistingFolder)
{
    test::CTempDir dir;
    std::wstring deep = (dir.Path() / "a" / "b" / "c").wstring();
    EXPECT_EQ(EnsureFolder(deep), S_OK);
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(EnsureFolder(deep), S_OK);
    EXPECT_EQ(EnsureFolder(L"/"), S_OK);
    std::ofstream(dir.Path() / "file") << "x";
    EXPECT_TRUE(Failed(EnsureFolder((dir.Path() / "file").wstring())));
}

} // namespace
} // namespace zk
