#include "tools/sxreg/sxreg.h"

#include <unistd.h>

#include <sstream>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

class Sxreg : public ::testing::Test {
protected:
    void SetUp() override {
        key_ = "HKCU\\Software\\SxregTest" + std::to_string(getpid()) + "\\" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        full_ = "HKEY_CURRENT_USER" + key_.substr(4);
    }
    void TearDown() override { sxreg({"delete", key_, "/f"}); }

    // Runs sxreg; `input` answers its questions.
    int sxreg(const std::vector<std::string>& args, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        const int code = sxreg::run(args, in, out, err);
        out_ = out.str();
        err_ = err.str();
        return code;
    }
    // Bytes sxreg's own parser could not produce.
    void set_raw(const char* name, uint32_t type, const std::string& bytes) {
        RegKey k;
        ASSERT_EQ(p.reg_create_key(kHkeyCurrentUser, key_.substr(5).c_str(), &k, nullptr),
                  kErrorSuccess);
        ASSERT_EQ(p.reg_set_value(k, name, type, bytes.data(), static_cast<uint32_t>(bytes.size())),
                  kErrorSuccess);
        p.reg_close_key(k);
    }

    Platform& p = platform();
    std::string key_, full_, out_, err_;
};

// Export keeps what add stores, byte for byte: text only where it reads back the same.
TEST_F(Sxreg, AddStoresTypesAsWindowsDoesAndExportKeepsTheBytes) {
    set_raw("Quoted", kRegSz, std::string("say \"hi\"\0", 9));
    set_raw("Counted", kRegSz, "ab");  // would gain a zero as "ab": hex instead
    const std::vector<std::vector<std::string>> adds = {
        {"/v", "Text", "/d", "C:\\Program Files"},
        {"/ve", "/d", "default"},
        {"/v", "Exp", "/t", "reg_expand_sz", "/d", "%A%"},
        {"/v", "Dec", "/t", "REG_DWORD", "/d", "4294967295"},
        {"/v", "Hex", "/t", "REG_DWORD", "/d", "0x1234"},
        {"/v", "Bin", "/t", "REG_BINARY", "/d", "00ff7F"},
        {"/v", "Multi", "/t", "REG_MULTI_SZ", "/d", "a\\0bc"},
        {"/v", "Sep", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "x#y"},
    };
    for (const auto& options : adds) {
        std::vector<std::string> args = {"add", key_};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("/f");
        ASSERT_EQ(sxreg(args), 0) << options[1] << ": " << err_;
        EXPECT_EQ(out_, "The operation completed successfully.\n");
    }
    // A key alone, with every missing parent.
    ASSERT_EQ(sxreg({"add", key_ + "\\a\\b", "/v", "n", "/t", "REG_DWORD", "/d", "0", "/f"}), 0);

    testing::TemporaryDirectory temp;
    const std::string file = temp.file("out.reg");
    ASSERT_EQ(sxreg({"export", key_, file}), 0) << err_;
    std::string content;
    ASSERT_TRUE(testing::read_file(file, &content));
    EXPECT_EQ(content, "Windows Registry Editor Version 5.00\r\n\r\n[" + full_ +
                           "]\r\n"
                           "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
                           "\"Counted\"=hex(1):61,62\r\n"
                           "\"Text\"=\"C:\\\\Program Files\"\r\n"
                           "@=\"default\"\r\n"
                           "\"Exp\"=hex(2):25,41,25,00\r\n"
                           "\"Dec\"=dword:ffffffff\r\n"
                           "\"Hex\"=dword:00001234\r\n"
                           "\"Bin\"=hex:00,ff,7f\r\n"
                           "\"Multi\"=hex(7):61,00,62,63,00,00\r\n"
                           "\"Sep\"=hex(7):78,00,79,00,00\r\n\r\n[" +
                           full_ + "\\a]\r\n\r\n[" + full_ +
                           "\\a\\b]\r\n"
                           "\"n\"=dword:00000000\r\n\r\n");
    // An existing file is replaced only when allowed.
    EXPECT_EQ(sxreg({"export", key_ + "\\a", file}, "n\n"), 1);
    ASSERT_TRUE(testing::read_file(file, &content) && content.find("Counted") != content.npos);
    EXPECT_EQ(sxreg({"export", key_ + "\\a", file, "/y"}), 0);
    ASSERT_TRUE(testing::read_file(file, &content) && content.find("Counted") == content.npos);
}

TEST_F(Sxreg, QueryPrintsLikeReg) {
    set_raw("Name", kRegSz, std::string("text\0", 5));
    set_raw("Count", kRegDword, std::string("\x2a\0\0\0", 4));
    set_raw("Blob", kRegBinary, "\x01\xab");
    set_raw("List", kRegMultiSz, std::string("a\0b\0\0", 5));
    set_raw("", kRegExpandSz, std::string("%X%\0", 4));
    ASSERT_EQ(sxreg({"add", key_ + "\\Sub"}), 0);

    ASSERT_EQ(sxreg({"query", key_}), 0);
    EXPECT_EQ(out_, "\n" + full_ + "\n" +
                        "    Name    REG_SZ    text\n"
                        "    Count    REG_DWORD    0x2a\n"
                        "    Blob    REG_BINARY    01AB\n"
                        "    List    REG_MULTI_SZ    a\\0b\n"
                        "    (Default)    REG_EXPAND_SZ    %X%\n"
                        "\n" +
                        full_ + "\\Sub\n");
    ASSERT_EQ(sxreg({"query", key_, "/v", "count"}), 0);
    EXPECT_EQ(out_, "\n" + full_ + "\n    Count    REG_DWORD    0x2a\n");

    set_raw("Name", kRegSz, "counted");  // no terminating zero
    ASSERT_EQ(sxreg({"query", key_, "/v", "Name"}), 0);
    EXPECT_EQ(out_, "\n" + full_ + "\n    Name    REG_SZ    counted\n");

    for (const auto& args : {std::vector<std::string>{"query", key_, "/v", "missing"},
                             std::vector<std::string>{"query", key_ + "\\nothing"}}) {
        EXPECT_EQ(sxreg(args), 1);
        EXPECT_EQ(err_,
                  "ERROR: The system was unable to find the specified registry key or value.\n");
    }
}

}  // namespace
}  // namespace sx
