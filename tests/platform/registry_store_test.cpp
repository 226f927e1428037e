#include "platform/registry_store.h"
#include "platform/text_convert.h"
#include "support/file_traps.h"
#include "support/scoped_env.h"
#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zk {
namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kKey = L"Software\\Maker\\Product";

class RegistryStoreTest : public ::testing::Test
{
protected:
    RegistryStoreTest() : m_env("XDG_CONFIG_HOME", m_home.Path().string())
    {
        TakeDamagedRegistryFile();
    }

    fs::path StoreFile() const
    {
        return m_home.Path() / "Brindlewerk" / "Zarumatekit32" / "registry.xml";
    }
    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    void Write(const std::string& bytes)
    {
        fs::create_directories(StoreFile().parent_path());
        std::ofstream(StoreFile(), std::ios::binary) << bytes;
    }

    // Writes the file beside the store and renames it into place, as
    // another process saving the store does.
    void Replace(const std::string& bytes)
    {
        fs::path beside = StoreFile().string() + ".other";
        fs::create_directories(StoreFile().parent_path());
        std::ofstream(beside, std::ios::binary) << bytes;
        fs::rename(beside, StoreFile());
    }
    static CRegValue Query(const wchar_t* path, const wchar_t* name)
    {
        CRegKey key;
        CRegValue value;
        EXPECT_EQ(key.Open(HKEY_CURRENT_USER, path, KEY_READ), S_OK);
        EXPECT_EQ(key.QueryValue(name, value), S_OK) << WideToUtf8(name);
        return value;
    }
    // Until UnblockFolder every write fails: a file stands where the
    // store's folder was.
    void BlockFolder()
    {
        fs::rename(StoreFile().parent_path(), Away());
        std::ofstream(StoreFile().parent_path()) << "a file where the folder should be";
    }
    void UnblockFolder()
    {
        fs::remove(StoreFile().parent_path());
        fs::rename(Away(), StoreFile().parent_path());
    }
    fs::path Away() const { return StoreFile().parent_path().string() + ".away"; }

    // The store's work since the last call.
    CRegStoreCounts Work()
    {
        CRegStoreCounts now = GetRegistryStoreCounts();
        CRegStoreCounts since{now.m_parses - m_counted.m_parses, now.m_writes - m_counted.m_writes};
        m_counted = now;
        return since;
    }

    test::CTempDir m_home;
    test::CScopedEnv m_env;
    CRegStoreCounts m_counted = GetRegistryStoreCounts();
};

// What the store wrote before it kept its tree in memory; users' files look
// like this and must keep loading, and a file written now must read there.
const std::string kStoredFile =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<registry>\n"
    "  <key name=\"HKEY_CURRENT_USER\">\n"
    "    <key name=\"Software\">\n"
    "      <key name=\"Maker\">\n"
    "        <key name=\"Product\">\n"
    "          <value name=\"Text\" type=\"REG_SZ\">日本語 &amp; &lt;b&gt; \"q\" 😀</value>\n"
    "          <value name=\"Blanks\" type=\"REG_SZ\">  </value>\n"
    "          <value name=\"Lines\" type=\"REG_SZ\">a\n"
    "b\tc</value>\n"
    "          <value name=\"Return\" type=\"REG_SZ\" hex=\"61000d000a0062000000\" />\n"
    "          <value name=\"Expand\" type=\"REG_EXPAND_SZ\">%HOME%</value>\n"
    "          <value name=\"Empty\" type=\"REG_SZ\" hex=\"\" />\n"
    "          <value name=\"Lone\" type=\"REG_SZ\" hex=\"00d80000\" />\n"
    "          <value name=\"Number\" type=\"REG_DWORD\">0x00000007</value>\n"
    "          <value name=\"Short\" type=\"REG_DWORD\" hex=\"010203\" />\n"
    "          <value name=\"Binary\" type=\"REG_BINARY\" hex=\"00ab10ff\" />\n"
    "          <value name=\"Quad\" type=\"11\" hex=\"0102030405060708\" />\n"
    "          <value name=\"None\" type=\"REG_NONE\" hex=\"\" />\n"
    "          <key name=\"Window\">\n"
    "            <value name=\"Left\" type=\"REG_DWORD\">0xfffffb00</value>\n"
    "          </key>\n"
    "        </key>\n"
    "      </key>\n"
    "      <key name=\"Other\" />\n"
    "    </key>\n"
    "  </key>\n"
    "</registry>\n";

void PutStoredFileValues()
{
    CRegKey key, window, other;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE | KEY_READ), S_OK);
    ASSERT_EQ(window.Create(key, L"Window", KEY_WRITE), S_OK);
    ASSERT_EQ(window.SetValue(L"Left", MakeDwordValue(0xFFFFFB00u)), S_OK);
    ASSERT_EQ(other.Create(HKEY_CURRENT_USER, L"Software\\Other", KEY_WRITE), S_OK);
    const std::vector<std::pair<const wchar_t*, CRegValue>> values = {
        {L"Text", MakeStringValue(L"日本語 & <b> \"q\" \U0001F600")},
        {L"Blanks", MakeStringValue(L"  ")},
        {L"Lines", MakeStringValue(L"a\nb\tc")},
        {L"Return", MakeStringValue(L"a\r\nb")},
        {L"Expand", MakeStringValue(L"%HOME%", REG_EXPAND_SZ)},
        {L"Empty", CRegValue{REG_SZ, {}}},
        {L"Lone", CRegValue{REG_SZ, {0x00, 0xD8, 0, 0}}},
        {L"Number", MakeDwordValue(7)},
        {L"Short", CRegValue{REG_DWORD, {1, 2, 3}}},
        {L"Binary", CRegValue{REG_BINARY, {0, 0xAB, 0x10, 0xFF}}},
        {L"Quad", CRegValue{11, {1, 2, 3, 4, 5, 6, 7, 8}}},
        {L"None", CRegValue{REG_NONE, {}}},
    };
    for (const auto& [name, value] : values)
        ASSERT_EQ(key.SetValue(name, value), S_OK) << WideToUtf8(name);
}

TEST_F(RegistryStoreTest, ValuesKeepTheirTypeAndRawDataAcrossTheFile)
{
    CRegValue noNull = MakeStringValue(L"abc");
    noNull.m_data.resize(noNull.m_data.size() - 2);
    CRegValue embeddedNull = MakeStringValue(std::wstring(L"a\0b", 3));
    const std::vector<std::pair<std::wstring, CRegValue>> values = {
        {L"plain", MakeStringValue(L"日本語 & <tags> \"q\"")},
        {L"blanks", MakeStringValue(L"  ")},
        {L"lines", MakeStringValue(L"a\nb\tc")},
        {L"cr", MakeStringValue(L"a\r\nb")},
        {L"expand", MakeStringValue(L"%PATH%", REG_EXPAND_SZ)},
        {L"emoji", MakeStringValue(L"\U0001F600")},
        {L"noNull", noNull},
        {L"embeddedNull", embeddedNull},
        {L"odd", CRegValue{REG_SZ, {0x41, 0, 0}}},
        {L"empty", CRegValue{REG_SZ, {}}},
        {L"dword", MakeDwordValue(0xFFFFFF9Cu)},
        {L"shortDword", CRegValue{REG_DWORD, {1, 2, 3}}},
        {L"binary", CRegValue{REG_BINARY, {0, 0xFF, 0x10}}},
        {L"qword", CRegValue{11, {1, 2, 3, 4, 5, 6, 7, 8}}},
    };
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
        for (const auto& [name, value] : values)
            ASSERT_EQ(key.SetValue(name, value), S_OK) << WideToUtf8(name);
    }
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kKey, KEY_READ), S_OK);
    for (const auto& [name, value] : values) {
        CRegValue read;
        ASSERT_EQ(key.QueryValue(name, read), S_OK) << WideToUtf8(name);
        EXPECT_EQ(read, value) << WideToUtf8(name);
    }
}

TEST_F(RegistryStoreTest, WellFormedStringsAndNumbersAreWrittenReadably)
{
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    ASSERT_EQ(key.SetValue(L"BrowserPath", MakeStringValue(L"/usr/bin/ブラウザ")), S_OK);
    ASSERT_EQ(key.SetValue(L"Left", MakeDwordValue(0xFFFFFF9Cu)), S_OK);
    std::string file = Read(StoreFile());
    EXPECT_NE(file.find("type=\"REG_SZ\">" + WideToUtf8(L"/usr/bin/ブラウザ") + "</value>"),
              std::string::npos);
    EXPECT_NE(file.find("type=\"REG_DWORD\">0xffffff9c</value>"), std::string::npos);
    EXPECT_NE(file.find("<key name=\"Software\">"), std::string::npos);
}

TEST_F(RegistryStoreTest, KeyAndValueNamesIgnoreCase)
{
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    ASSERT_EQ(key.SetValue(L"Name", MakeDwordValue(1)), S_OK);
    ASSERT_EQ(key.SetValue(L"NAME", MakeDwordValue(2)), S_OK);
    CRegKey other;
    CRegValue value;
    ASSERT_EQ(other.Open(HKEY_CURRENT_USER, L"software\\MAKER\\product", KEY_READ), S_OK);
    ASSERT_EQ(other.QueryValue(L"name", value), S_OK);
    EXPECT_EQ(value, MakeDwordValue(2));
}

TEST_F(RegistryStoreTest, MissingKeysAndValuesAndMissingRightsAreReported)
{
    CRegKey key;
    CRegValue value;
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, kKey, KEY_READ), HresultFromErrno(ENOENT));
    EXPECT_FALSE(fs::exists(StoreFile())) << "opening creates nothing";
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_READ), S_OK);
    EXPECT_EQ(key.QueryValue(L"none", value), HresultFromErrno(ENOENT));
    EXPECT_EQ(key.SetValue(L"v", MakeDwordValue(1)), HresultFromErrno(EACCES));
    CRegKey sub;
    EXPECT_EQ(sub.Create(key, L"Sub", KEY_READ), HresultFromErrno(EACCES));
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_READ | KEY_CREATE_SUB_KEY), S_OK);
    EXPECT_EQ(sub.Create(key, L"Sub", KEY_READ), S_OK);
    EXPECT_EQ(sub.GetPath(), std::wstring(kKey) + L"\\Sub");
}

TEST_F(RegistryStoreTest, DamagedFileIsKeptAsideAndReportedNotOverwritten)
{
    const std::string damaged = "<registry><key name=\"HKEY_CURRENT_USER\"><key";
    Write(damaged);
    CRegKey key;
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), HresultFromErrno(EBADMSG));
    fs::path aside = StoreFile().string() + ".damaged";
    EXPECT_EQ(Read(aside), damaged);
    EXPECT_EQ(TakeDamagedRegistryFile(), aside.wstring());
    EXPECT_EQ(TakeDamagedRegistryFile(), L"");

    // The next change starts a new store; a second damage keeps the first.
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    ASSERT_EQ(key.SetValue(L"v", MakeDwordValue(1)), S_OK);
    Write("<registry><value name=\"x\" type=\"REG_DWORD\">12</value></registry>");
    EXPECT_EQ(key.SetValue(L"v", MakeDwordValue(2)), HresultFromErrno(EBADMSG));
    EXPECT_EQ(Read(aside), damaged);
    EXPECT_TRUE(fs::exists(StoreFile().string() + ".damaged.1"));
}

TEST_F(RegistryStoreTest, KeysNestedDeeperThanTheStoreHoldsAreDamageNotACrash)
{
    constexpr int kDepth = 100000;
    std::string nested;
    for (int i = 0; i < kDepth; ++i)
        nested += "<key name=\"k\">";
    for (int i = 0; i < kDepth; ++i)
        nested += "</key>";
    Write("<registry><key name=\"HKEY_CURRENT_USER\">" + nested + "</key></registry>");
    CRegKey key;
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, L"k", KEY_READ), HresultFromErrno(EBADMSG));
    EXPECT_EQ(TakeDamagedRegistryFile(), StoreFile().wstring() + L".damaged");

    // Nor can such a key be made, so the store never writes what it cannot read.
    std::wstring deep = L"k";
    for (int i = 1; i < kDepth; ++i)
        deep += L"\\k";
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, deep, KEY_WRITE), HresultFromErrno(EINVAL));
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, deep.substr(0, 511 * 2 + 1), KEY_WRITE), S_OK);
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, deep.substr(0, 511 * 2 + 1), KEY_READ), S_OK);
}

TEST_F(RegistryStoreTest, StoreThatCannotBeReadIsLeftAlone)
{
    fs::create_directories(StoreFile() / "inside");
    CRegKey key;
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), HresultFromErrno(EISDIR));
    EXPECT_TRUE(fs::is_directory(StoreFile() / "inside"));
    EXPECT_EQ(TakeDamagedRegistryFile(), L"");
}

TEST_F(RegistryStoreTest, SavesLeaveNoTemporaryFilesBehind)
{
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    for (std::uint32_t i = 0; i < 3; ++i)
        ASSERT_EQ(key.SetValue(L"v", MakeDwordValue(i)), S_OK);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(StoreFile().parent_path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(RegistryStoreTest, FifoAsTheStoreIsAnErrorNeverAHangAndIsLeftAlone)
{
    fs::create_directories(StoreFile().parent_path());
    ASSERT_EQ(::mkfifo(StoreFile().c_str(), 0600), 0);
    HRESULT created = S_OK;
    HRESULT read = S_OK;
    ASSERT_TRUE(test::ReturnsDespiteFifo(StoreFile(), [&] {
        CRegKey key;
        created = key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE);
        read = key.Open(HKEY_CURRENT_USER, kKey, KEY_READ);
    }));
    EXPECT_EQ(created, E_NOT_REGULAR_FILE);
    EXPECT_EQ(read, E_NOT_REGULAR_FILE);
    EXPECT_EQ(fs::status(StoreFile()).type(), fs::file_type::fifo);
}

TEST_F(RegistryStoreTest, TemporaryFilesOfAKilledChangeAreRemovedAtStart)
{
    Write("<registry/>");
    fs::path folder = StoreFile().parent_path();
    std::ofstream(folder / "registry.xml.Zq81Kd") << "half";
    std::ofstream(folder / "registry.xml.damaged") << "kept aside";
    RemoveStaleRegistryFiles();
    EXPECT_FALSE(fs::exists(folder / "registry.xml.Zq81Kd"));
    EXPECT_TRUE(fs::exists(folder / "registry.xml.damaged"));
    EXPECT_EQ(Read(StoreFile()), "<registry/>");
}

// ---- The file form stays what it was -------------------------------------

TEST_F(RegistryStoreTest, FileIsWrittenByteForByteAsBeforeAndReadsBackTheSame)
{
    PutStoredFileValues();
    EXPECT_EQ(Read(StoreFile()), kStoredFile);

    // The same bytes from elsewhere read as the values they were made from.
    Replace(kStoredFile);
    EXPECT_EQ(Query(kKey, L"Lone"), (CRegValue{REG_SZ, {0x00, 0xD8, 0, 0}}));
    EXPECT_EQ(Query(kKey, L"Return"), MakeStringValue(L"a\r\nb"));
    EXPECT_EQ(Query(kKey, L"Quad"), (CRegValue{11, {1, 2, 3, 4, 5, 6, 7, 8}}));
    EXPECT_EQ(Query(L"Software\\Maker\\Product\\Window", L"Left"), MakeDwordValue(0xFFFFFB00u));
    // Writing back what was read changes nothing.
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    ASSERT_EQ(key.SetValue(L"Number", MakeDwordValue(7)), S_OK);
    EXPECT_EQ(Read(StoreFile()), kStoredFile);
}

TEST_F(RegistryStoreTest, NumbersAndHexReadInEveryFormTheFileAllows)
{
    Replace("<registry><key name=\"HKEY_CURRENT_USER\"><key name=\"K\">"
            "<!-- by hand -->\n"
            "<value name=\"upper\" type=\"REG_DWORD\">0xABCDEF01</value>"
            "<value name=\"short\" type=\"REG_DWORD\">0x7</value>"
            "<value name=\"decimal\" type=\"4\">0x00000010</value>"
            "<value name=\"big\" type=\"4294967295\" hex=\"FFee\"/>"
            "<value name=\"cdata\" type=\"REG_SZ\"><![CDATA[a<b]]></value>"
            "</key></key></registry>");
    EXPECT_EQ(Query(L"K", L"upper"), MakeDwordValue(0xABCDEF01u));
    EXPECT_EQ(Query(L"K", L"short"), MakeDwordValue(7));
    EXPECT_EQ(Query(L"K", L"decimal"), MakeDwordValue(16));
    EXPECT_EQ(Query(L"K", L"big"), (CRegValue{0xFFFFFFFFu, {0xFF, 0xEE}}));
    EXPECT_EQ(Query(L"K", L"cdata"), MakeStringValue(L"a<b"));
}

TEST_F(RegistryStoreTest, NumbersAndHexThatAreNotWhollyDigitsMakeTheFileDamaged)
{
    const std::vector<std::string> values = {
        "type=\"REG_DWORD\">0x</value>",
        "type=\"REG_DWORD\">0x123456789</value>",
        "type=\"REG_DWORD\">0x-1</value>",
        "type=\"REG_DWORD\">0x1 </value>",
        "type=\"REG_DWORD\">12</value>",
        "type=\"4294967296\" hex=\"\"/>",
        "type=\"+1\" hex=\"\"/>",
        "type=\"REG_BINARY\" hex=\"0g\"/>",
        "type=\"REG_BINARY\" hex=\"abc\"/>",
        "type=\"REG_BINARY\" hex=\"+1\"/>",
    };
    for (const std::string& value : values) {
        Replace("<registry><key name=\"HKEY_CURRENT_USER\"><key name=\"K\"><value name=\"v\" " +
                value + "</key></key></registry>");
        CRegKey key;
        EXPECT_EQ(key.Open(HKEY_CURRENT_USER, L"K", KEY_READ), HresultFromErrno(EBADMSG)) << value;
        EXPECT_FALSE(TakeDamagedRegistryFile().empty()) << value;
    }
}

// ---- Reading the file once ------------------------------------------------

TEST_F(RegistryStoreTest, QueriesBetweenSavesParseNothing)
{
    Replace(kStoredFile);
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(7));
    EXPECT_EQ(Work().m_parses, 1u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(7));
        CRegKey missing;
        EXPECT_EQ(missing.Open(HKEY_CURRENT_USER, L"Software\\None", KEY_READ),
                  HresultFromErrno(ENOENT));
    }
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    ASSERT_EQ(key.SetValue(L"Number", MakeDwordValue(8)), S_OK);
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(8));
    CRegStoreCounts work = Work();
    EXPECT_EQ(work.m_parses, 0u) << "what the store wrote itself is not read back";
    EXPECT_EQ(work.m_writes, 1u) << "opening an existing key writes nothing";
}

TEST_F(RegistryStoreTest, FileSavedByAnotherProcessIsReadAgain)
{
    PutStoredFileValues();
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(7));
    Work();
    // A real second process, with its own copy of the tree, saves a change.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CRegKey key;
        bool saved = Succeeded(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE)) &&
                     Succeeded(key.SetValue(L"Number", MakeDwordValue(9)));
        ::_exit(saved ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(9));
    EXPECT_EQ(Query(kKey, L"Text"), MakeStringValue(L"日本語 & <b> \"q\" \U0001F600"));
    EXPECT_EQ(Work().m_parses, 1u);
    // Rewritten in place, the file keeps its inode but not its size.
    Write(kStoredFile + "<!-- longer -->");
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(7));
    EXPECT_EQ(Work().m_parses, 1u);
}

// ---- Writing once ---------------------------------------------------------

TEST_F(RegistryStoreTest, BatchWritesItsChangesOnceWhenItEnds)
{
    PutStoredFileValues();
    Work();
    {
        CRegBatch batch;
        CRegKey key, sub;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE | KEY_READ), S_OK);
        ASSERT_EQ(sub.Create(key, L"New", KEY_WRITE), S_OK);
        for (std::uint32_t i = 0; i < 5; ++i)
            ASSERT_EQ(sub.SetValue(L"v" + std::to_wstring(i), MakeDwordValue(i)), S_OK);
        {
            CRegBatch inner;
            ASSERT_EQ(key.SetValue(L"Number", MakeDwordValue(70)), S_OK);
        }
        // Seen at once, in the file not yet.
        EXPECT_EQ(Query(L"Software\\Maker\\Product\\New", L"v4"), MakeDwordValue(4));
        EXPECT_EQ(Read(StoreFile()), kStoredFile);
        EXPECT_EQ(Work().m_writes, 0u);
    }
    EXPECT_EQ(Work().m_writes, 1u);
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(70));
    EXPECT_NE(Read(StoreFile()).find("<value name=\"v4\""), std::string::npos);
    EXPECT_EQ(Work().m_parses, 0u);
}

TEST_F(RegistryStoreTest, FailedBatchWriteIsReportedAndTheFileReadAgain)
{
    PutStoredFileValues();
    CRegBatch batch;
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    ASSERT_EQ(key.SetValue(L"Number", MakeDwordValue(1)), S_OK);
    BlockFolder();
    EXPECT_TRUE(Failed(batch.Commit()));
    EXPECT_EQ(batch.Commit(), S_OK) << "a batch ends once";
    // The old file is back, untouched; the change that was never written
    // must not be answered from memory.
    UnblockFolder();
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(7));
    EXPECT_EQ(Read(StoreFile()), kStoredFile);
}

// A batch's changes that another thread's failed write took along are lost
// with the tree: the batch's commit says so instead of answering S_OK.
TEST_F(RegistryStoreTest, BatchLostInAnotherThreadsFailedWriteIsReported)
{
    PutStoredFileValues();
    CRegBatch batch;
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
    ASSERT_EQ(key.SetValue(L"Number", MakeDwordValue(2)), S_OK);
    BlockFolder();
    std::thread other([] {
        CRegKey otherKey;
        if (Succeeded(otherKey.Open(HKEY_CURRENT_USER, kKey, KEY_WRITE)))
            EXPECT_TRUE(Failed(otherKey.SetValue(L"Other", MakeDwordValue(3))));
    });
    other.join();
    UnblockFolder();
    EXPECT_TRUE(Failed(batch.Commit()));
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(7));
}

// The store's folder moving while a batch is open (another home) does not
// drop the batch: its changes go to the file they were made in.
TEST_F(RegistryStoreTest, BatchGoesToItsOwnFileWhenThePathMoves)
{
    PutStoredFileValues();
    fs::path first = StoreFile();
    test::CTempDir otherHome;
    {
        CRegBatch batch;
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey, KEY_WRITE), S_OK);
        ASSERT_EQ(key.SetValue(L"Number", MakeDwordValue(2)), S_OK);
        test::CScopedEnv moved("XDG_CONFIG_HOME", otherHome.Path().string());
        // Nothing is stored there: only the reading of the other file.
        CRegKey elsewhere;
        EXPECT_TRUE(Failed(elsewhere.Open(HKEY_CURRENT_USER, kKey, KEY_READ)));
        EXPECT_EQ(batch.Commit(), S_OK);
    }
    EXPECT_EQ(Query(kKey, L"Number"), MakeDwordValue(2));
    EXPECT_NE(Read(first).find("0x00000002"), std::string::npos);
}

} // namespace
} // namespace zk
