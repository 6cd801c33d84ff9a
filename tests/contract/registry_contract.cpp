// Registry reading with the advapi32 meanings: values keep their type and
// data, a small buffer asks for more, and missing keys and values are
// ERROR_FILE_NOT_FOUND. Each backend's sandbox writes the values its own way
// (posix: the machine's registry file; Win32: the registry itself).
#include <cstring>

#include "contract.h"

namespace {

class RegistryContract : public Contract {
protected:
    Registry& registry = *sys.registry;

    RegHandle open(const std::string& subkey) {
        RegHandle key = 0;
        EXPECT_EQ(registry.OpenKey(reg::HKEY_LOCAL_MACHINE, subkey, reg::KEY_READ, key), reg::ERROR_SUCCESS) << subkey;
        return key;
    }

    // A value read in full, asked for its size first: its type and data as stored.
    std::pair<std::uint32_t, std::string> value(RegHandle key, const std::string& name) {
        std::uint32_t type = 0, size = 0;
        EXPECT_EQ(registry.QueryValue(key, name, &type, nullptr, &size), reg::ERROR_SUCCESS) << name;
        std::string data(size, '\x7f');
        EXPECT_EQ(registry.QueryValue(key, name, &type, data.data(), &size), reg::ERROR_SUCCESS) << name;
        data.resize(size);
        return {type, data};
    }
};

const char kAgent[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\r\n"
    "\"InstallationPath\"=\"C:\\\\Program Files\\\\KOVA\\\\\"\r\n"
    "\"RegID\"=\"42\"\r\n"
    "\"MEMBERID\"=dword:0000002a\r\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
    "\"Empty\"=\"\"\r\n"
    "@=\"default\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VSoft\\Automise\\3.0]\r\n"
    "\"ATCMDLocation\"=\"C:\\\\Automise\\\\ATCMD.exe\"\r\n";

TEST_F(RegistryContract, StringAndDwordValues) {
    box.writeRegistry(kAgent);
    const RegHandle key = open("SOFTWARE\\KOVAOD");
    EXPECT_EQ(value(key, "InstallationPath"), std::make_pair(reg::REG_SZ, std::string("C:\\Program Files\\KOVA\\\0", 23)));
    EXPECT_EQ(value(key, "regid"), std::make_pair(reg::REG_SZ, std::string("42\0", 3)));
    EXPECT_EQ(value(key, "Quote"), std::make_pair(reg::REG_SZ, std::string("say \"hi\"\0", 9)));
    EXPECT_EQ(value(key, "Empty"), std::make_pair(reg::REG_SZ, std::string("\0", 1)));
    EXPECT_EQ(value(key, ""), std::make_pair(reg::REG_SZ, std::string("default\0", 8)));
    // A dword keeps its type and is four little-endian bytes, whatever buffer asks for it.
    EXPECT_EQ(value(key, "MEMBERID"), std::make_pair(reg::REG_DWORD, std::string("\x2a\0\0\0", 4)));
    std::uint32_t number = 0, type = 0, size = sizeof number;
    ASSERT_EQ(registry.QueryValue(key, "MEMBERID", &type, reinterpret_cast<char*>(&number), &size), 0);
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(registry.CloseKey(key), reg::ERROR_SUCCESS);

    const RegHandle automise = open("software\\vsoft\\AUTOMISE\\3.0");
    EXPECT_EQ(value(automise, "ATCMDLocation").second, std::string("C:\\Automise\\ATCMD.exe\0", 22));
    EXPECT_EQ(registry.CloseKey(automise), reg::ERROR_SUCCESS);
}

TEST_F(RegistryContract, ValuesOfEveryTypeKeepTheirTypeAndData) {
    box.writeRegistry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\r\n"
        // An expandable string over two lines, as the registry editor wraps it: UTF-16, "C:\%A%".
        "\"Path\"=hex(2):43,00,3a,00,5c,00,25,00,41,00,25,00,\\\r\n"
        "  00,00\r\n"
        "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        "\"Big\"=hex(b):08,07,06,05,04,03,02,01\r\n"
        "\"Bytes\"=hex:ff,00,10\r\n"
        "\"Top\"=dword:FFFFFFFE\r\n");
    const RegHandle key = open("SOFTWARE\\KOVAOD");
    // The string types are handed out as text, as the ANSI calls do.
    EXPECT_EQ(value(key, "Path"), std::make_pair(reg::REG_EXPAND_SZ, std::string("C:\\%A%\0", 7)));
    EXPECT_EQ(value(key, "Multi"), std::make_pair(reg::REG_MULTI_SZ, std::string("a\0b\0\0", 5)));
    EXPECT_EQ(value(key, "Big"), std::make_pair(reg::REG_QWORD, std::string("\x08\x07\x06\x05\x04\x03\x02\x01")));
    EXPECT_EQ(value(key, "Bytes"), std::make_pair(reg::REG_BINARY, std::string("\xff\0\x10", 3)));
    EXPECT_EQ(value(key, "Top"), std::make_pair(reg::REG_DWORD, std::string("\xfe\xff\xff\xff", 4)));
}

TEST_F(RegistryContract, ASmallBufferGivesMoreDataAndTheSizeNeeded) {
    box.writeRegistry(kAgent);
    const RegHandle key = open("SOFTWARE\\KOVAOD");
    std::uint32_t type = 0, size = 0;
    char buffer[8];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(registry.QueryValue(key, "RegID", &type, buffer, &size), reg::ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    size = 2;
    EXPECT_EQ(registry.QueryValue(key, "RegID", &type, buffer, &size), reg::ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    size = 3;
    EXPECT_EQ(registry.QueryValue(key, "RegID", &type, buffer, &size), reg::ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, 4), std::string("42\0z", 4));
    registry.CloseKey(key);
}

TEST_F(RegistryContract, MissingThingsAreFileNotFound) {
    RegHandle key = 0;
    EXPECT_EQ(registry.OpenKey(reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVAOD", reg::KEY_READ, key),
              reg::ERROR_FILE_NOT_FOUND);

    box.writeRegistry(kAgent);
    EXPECT_EQ(registry.OpenKey(reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", reg::KEY_READ, key),
              reg::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.OpenKey(reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVA", reg::KEY_READ, key),
              reg::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.OpenKey(0x80000001u, "SOFTWARE\\KOVAOD", reg::KEY_READ, key), reg::ERROR_FILE_NOT_FOUND);

    key = open("SOFTWARE\\KOVAOD");
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(registry.QueryValue(key, "SITEID", &type, nullptr, &size), reg::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.CloseKey(key), reg::ERROR_SUCCESS);

    // A key written only through its sub-key exists, without the sub-key's values.
    box.writeRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD\\Sub]\n\"Deep\"=\"yes\"\n");
    const RegHandle parent = open("SOFTWARE\\KOVAOD");
    EXPECT_EQ(registry.QueryValue(parent, "Deep", &type, nullptr, &size), reg::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.CloseKey(parent), reg::ERROR_SUCCESS);
    const RegHandle sub = open("SOFTWARE\\KOVAOD\\SUB");
    EXPECT_EQ(value(sub, "deep").second, std::string("yes\0", 4));
    EXPECT_EQ(registry.CloseKey(sub), reg::ERROR_SUCCESS);
}

}  // namespace
