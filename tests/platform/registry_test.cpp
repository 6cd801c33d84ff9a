// The posix registry's own side: the machine's registry file and the forms
// it may take. What every registry backend promises is in
// tests/contract/registry_contract.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/test_support.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    Sandbox box;
    PosixRegistry registry;

    RegHandle open(const std::string& subkey) {
        RegHandle key = 0;
        EXPECT_EQ(registry.OpenKey(reg::HKEY_LOCAL_MACHINE, subkey, reg::KEY_READ, key), reg::ERROR_SUCCESS);
        return key;
    }

    // A value read in full: its type and data as stored.
    std::pair<std::uint32_t, std::string> value(RegHandle key, const std::string& name) {
        std::uint32_t type = 0, size = 0;
        EXPECT_EQ(registry.QueryValue(key, name, &type, nullptr, &size), reg::ERROR_SUCCESS);
        std::string data(size, '\x7f');
        EXPECT_EQ(registry.QueryValue(key, name, &type, data.data(), &size), reg::ERROR_SUCCESS);
        data.resize(size);
        return {type, data};
    }
};

}  // namespace

// What the registry file may hold beyond what the registry editor writes
// plainly: a non-ASCII string (handed out as UTF-8), a type of no data, a
// type in capitals, blanks among the bytes, and lines it cannot read or that
// remove a value, which leave no value.
TEST_F(RegistryTest, TheFilesOwnFormsOfValues) {
    box.writeRegistry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\r\n"
        "\"Path\"=hex(2):43,00,3a,00,5c,00,25,00,41,00,25,00,\\\r\n"
        "  e9,00,00,00\r\n"
        "\"Big\"=HEX(B):08,07,06,05,04,03,02,01\r\n"
        "\"Bytes\"=hex:ff, 00 ,10\r\n"
        "\"None\"=hex(0):\r\n"
        "\"Bad\"=hex(2):4g,00\r\n"
        "\"Gone\"=-\r\n");
    const RegHandle key = open("SOFTWARE\\KOVAOD");
    // The UTF-16 text comes back in the code page, as the Windows call gives it.
    EXPECT_EQ(value(key, "Path"), std::make_pair(reg::REG_EXPAND_SZ, std::string("C:\\%A%\xE9\0", 8)));
    EXPECT_EQ(value(key, "Big"), std::make_pair(reg::REG_QWORD, std::string("\x08\x07\x06\x05\x04\x03\x02\x01")));
    EXPECT_EQ(value(key, "Bytes"), std::make_pair(reg::REG_BINARY, std::string("\xff\0\x10", 3)));
    EXPECT_EQ(value(key, "None"), std::make_pair(0u, std::string()));
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(registry.QueryValue(key, "Bad", &type, nullptr, &size), reg::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.QueryValue(key, "Gone", &type, nullptr, &size), reg::ERROR_FILE_NOT_FOUND);
    // A handle closed once is no handle.
    EXPECT_EQ(registry.CloseKey(key), reg::ERROR_SUCCESS);
    EXPECT_EQ(registry.CloseKey(key), 6);
    EXPECT_EQ(registry.QueryValue(key, "Bytes", &type, nullptr, &size), 6);
}

TEST_F(RegistryTest, UnreadableFileMeansNoKeys) {
    // A folder where the file should be cannot be read even by root.
    std::filesystem::create_directory(box.root() + "/system.reg");
    RegHandle key = 0;
    EXPECT_EQ(registry.OpenKey(reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\KOVAOD", reg::KEY_READ, key),
              reg::ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ToleratesBomLfCommentsAndCase) {
    std::ofstream(box.root() + "/system.reg", std::ios::binary)
        << "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
           "; exported for the test\n"
           "[hkey_local_machine\\Software\\Kovaod\\Sub]\n"
           "\"Deep\"=\"yes\"\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KOVAOD]\n"
           "\"Long\"=hex(2):41,00,\\\n"
           "  42,00\n"
           "\"TYPE\"=\"MSMA\"\n";
    const RegHandle key = open("SOFTWARE\\KOVAOD");
    EXPECT_EQ(value(key, "type").second, std::string("MSMA\0", 5));
}
