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

    test::CTempDir m_home;
    test::CScopedEnv m_env;
};

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

} // namespace
} // namespace zk
