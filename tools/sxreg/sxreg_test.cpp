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
    // The stored type and bytes of a value of our key, or false.
    bool stored(const std::string& name, uint32_t* type, std::string* bytes,
                const std::string& sub = "") {
        RegKey k;
        const std::string path = key_.substr(5) + sub;
        if (p.reg_open_key(kHkeyCurrentUser, path.c_str(), kKeyRead, &k) != kErrorSuccess)
            return false;
        char buffer[512];
        uint32_t size = sizeof buffer;
        const long rc = p.reg_query_value(k, name.c_str(), type, buffer, &size);
        p.reg_close_key(k);
        if (rc != kErrorSuccess) return false;
        bytes->assign(buffer, size);
        return true;
    }
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

TEST_F(Sxreg, AddStoresTypesAsWindowsDoes) {
    struct Case {
        std::vector<std::string> options;
        const char* name;
        uint32_t type;
        std::string bytes;
    } cases[] = {
        {{"/v", "Text", "/d", "C:\\Program Files"},
         "Text",
         kRegSz,
         std::string("C:\\Program Files\0", 17)},
        {{"/ve", "/d", "default"}, "", kRegSz, std::string("default\0", 8)},
        {{"/v", "Empty"}, "Empty", kRegSz, std::string("\0", 1)},
        {{"/v", "Exp", "/t", "reg_expand_sz", "/d", "%TEMP%\\x"},
         "Exp",
         kRegExpandSz,
         std::string("%TEMP%\\x\0", 9)},
        {{"/v", "Dec", "/t", "REG_DWORD", "/d", "4294967295"},
         "Dec",
         kRegDword,
         "\xff\xff\xff\xff"},
        {{"/v", "Hex", "/t", "REG_DWORD", "/d", "0x1234"},
         "Hex",
         kRegDword,
         std::string("\x34\x12\0\0", 4)},
        {{"/v", "Bin", "/t", "REG_BINARY", "/d", "00ff7F"},
         "Bin",
         kRegBinary,
         std::string("\0\xff\x7f", 3)},
        {{"/v", "Multi", "/t", "REG_MULTI_SZ", "/d", "a\\0bc"},
         "Multi",
         kRegMultiSz,
         std::string("a\0bc\0\0", 6)},
        {{"/v", "Sep", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "x#y#z"},
         "Sep",
         kRegMultiSz,
         std::string("x\0y\0z\0\0", 7)},
        {{"/v", "NoItems", "/t", "REG_MULTI_SZ"}, "NoItems", kRegMultiSz, std::string("\0", 1)},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"add", key_};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("/f");
        ASSERT_EQ(sxreg(args), 0) << err_;
        EXPECT_EQ(out_, "The operation completed successfully.\n");
        uint32_t type = 0;
        std::string bytes;
        ASSERT_TRUE(stored(c.name, &type, &bytes)) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(bytes, c.bytes) << c.name;
    }
    // A key alone, with every missing parent.
    ASSERT_EQ(sxreg({"add", key_ + "\\a\\b"}), 0);
    RegKey k;
    ASSERT_EQ(p.reg_open_key(kHkeyCurrentUser, (key_.substr(5) + "\\a\\b").c_str(), kKeyRead, &k),
              kErrorSuccess);
    p.reg_close_key(k);
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
    ASSERT_EQ(sxreg({"query", key_ + "\\Sub", "/ve"}), 0);
    EXPECT_EQ(out_, "\n" + full_ + "\\Sub\n    (Default)    REG_SZ    (value not set)\n");

    set_raw("Name", kRegSz, "counted");  // no terminating zero
    ASSERT_EQ(sxreg({"query", key_, "/v", "Name"}), 0);
    EXPECT_EQ(out_, "\n" + full_ + "\n    Name    REG_SZ    counted\n");

    EXPECT_EQ(sxreg({"query", key_, "/v", "missing"}), 1);
    EXPECT_EQ(err_, "ERROR: The system was unable to find the specified registry key or value.\n");
    EXPECT_EQ(sxreg({"query", key_ + "\\nothing"}), 1);
    EXPECT_EQ(err_, "ERROR: The system was unable to find the specified registry key or value.\n");
}

TEST_F(Sxreg, ExportKeepsExactBytes) {
    set_raw("Text", kRegSz, std::string("say \"hi\" C:\\x\0", 14));
    set_raw("Counted", kRegSz, "ab");  // would gain a zero as "ab": hex instead
    set_raw("Dword", kRegDword, std::string("\x01\0\0\x80", 4));
    set_raw("Expand", kRegExpandSz, std::string("%A%\0", 4));
    set_raw("Multi", kRegMultiSz, std::string("a\0\0", 3));
    set_raw("Bin", kRegBinary, "\x0a\xff");
    set_raw("", kRegSz, std::string("d\0", 2));
    ASSERT_EQ(sxreg({"add", key_ + "\\Sub", "/v", "n", "/t", "REG_DWORD", "/d", "0", "/f"}), 0);

    testing::TemporaryDirectory temp;
    ASSERT_TRUE(temp.ok());
    const std::string file = temp.file("out.reg");
    ASSERT_EQ(sxreg({"export", key_, file}), 0) << err_;
    std::string content;
    ASSERT_TRUE(testing::read_file(file, &content));
    EXPECT_EQ(content,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[" +
                  full_ +
                  "]\r\n"
                  "\"Text\"=\"say \\\"hi\\\" C:\\\\x\"\r\n"
                  "\"Counted\"=hex(1):61,62\r\n"
                  "\"Dword\"=dword:80000001\r\n"
                  "\"Expand\"=hex(2):25,41,25,00\r\n"
                  "\"Multi\"=hex(7):61,00,00\r\n"
                  "\"Bin\"=hex:0a,ff\r\n"
                  "@=\"d\"\r\n"
                  "\r\n"
                  "[" +
                  full_ +
                  "\\Sub]\r\n"
                  "\"n\"=dword:00000000\r\n"
                  "\r\n");
    // An existing file is replaced only when allowed.
    EXPECT_EQ(sxreg({"export", key_ + "\\Sub", file}, "n\n"), 1);
    ASSERT_TRUE(testing::read_file(file, &content));
    EXPECT_NE(content.find("Counted"), std::string::npos);
    EXPECT_EQ(sxreg({"export", key_ + "\\Sub", file, "/y"}), 0);
    ASSERT_TRUE(testing::read_file(file, &content));
    EXPECT_EQ(content.find("Counted"), std::string::npos);
}

}  // namespace
}  // namespace sx
