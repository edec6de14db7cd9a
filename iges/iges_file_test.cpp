#include "iges/iges_file.h"

#include <gtest/gtest.h>

#include "iges/testing/iges_builder.h"

namespace ruvane::iges {
namespace {

using testing::IgesBuilder;

TEST(IgesParams, FreeFormatNumbersStringsAndEmptyFields) {
    struct Case {
        const char* text;
        char pd, rd;
        std::vector<Param::Kind> kinds;
        std::vector<double> numbers;  // of the number parameters, in order
        std::vector<std::string> texts;
    };
    using K = Param::Kind;
    const Case cases[] = {
        {"1,-2.5,3.E2,4.5D-1,.25,+7;",
         ',',
         ';',
         {K::kNumber, K::kNumber, K::kNumber, K::kNumber, K::kNumber, K::kNumber},
         {1, -2.5, 300, 0.45, 0.25, 7},
         {}},
        {"1,,3;", ',', ';', {K::kNumber, K::kEmpty, K::kNumber}, {1, 3}, {}},
        // Delimiters inside a Hollerith string are part of it.
        {"5Ha,b;c,2;", ',', ';', {K::kText, K::kNumber}, {2}, {"a,b;c"}},
        {"3Hxyz/1 . 5/0H;", '/', ';', {K::kText, K::kNumber, K::kText}, {1.5}, {"xyz", ""}},
        {"1,2,;", ',', ';', {K::kNumber, K::kNumber, K::kEmpty}, {1, 2}, {}},
        {"1 2,abc,1E999;", ',', ';', {K::kNumber, K::kBad, K::kBad}, {12}, {}},
        // A string longer than its record is refused, not read past the end.
        {"9Habc;", ',', ';', {K::kBad}, {}, {}},
        {"1,2", ',', ';', {K::kNumber, K::kNumber}, {1, 2}, {}},
    };
    for (const Case& c : cases) {
        std::vector<Param> out;
        EXPECT_TRUE(parse_params(c.text, 0, c.pd, c.rd, 100, &out)) << c.text;
        ASSERT_EQ(out.size(), c.kinds.size()) << c.text;
        size_t n = 0, t = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].kind, c.kinds[i]) << c.text << " #" << i;
            if (out[i].kind == K::kNumber) {
                EXPECT_DOUBLE_EQ(out[i].number, c.numbers.at(n++));
            }
            if (out[i].kind == K::kText) {
                EXPECT_EQ(out[i].text, c.texts.at(t++));
            }
        }
    }
    std::vector<Param> out;
    EXPECT_FALSE(parse_params("1,2,3,4;", 0, ',', ';', 3, &out));
}

TEST(IgesGlobal, DelimitersUnitsScaleAndTolerance) {
    struct Case {
        IgesBuilder::Options o;
        double mm;
        bool problem;
    };
    const Case cases[] = {
        {{',', ';', 2, "MM", 1.0, 1e-3}, 1.0, false},
        {{',', ';', 1, "INCH", 1.0, 1e-3}, 25.4, false},
        {{'/', '!', 6, "M", 1.0, 1e-3}, 1000.0, false},
        {{',', ';', 3, "CM", 1.0, 1e-3}, 10.0, false},
        {{',', ';', 2, "MM", 4.0, 1e-3}, 0.25, false},
        {{',', ';', 10, "CM", 0.5, 1e-3}, 20.0, false},
        {{',', ';', 42, "??", 1.0, 1e-3}, 1.0, true},
        {{',', ';', 2, "MM", -1.0, 1e-3}, 1.0, true},
    };
    for (const Case& c : cases) {
        IgesBuilder b(c.o);
        b.add(110, {"0.", "0.", "0.", "1.", "1.", "1."});
        const std::string s = b.str();
        File f;
        ASSERT_EQ(read_file(s.data(), s.size(), Limits{}, &f), ReadStatus::kOk);
        EXPECT_EQ(f.global.param_delim, c.o.param_delim);
        EXPECT_EQ(f.global.record_delim, c.o.record_delim);
        EXPECT_DOUBLE_EQ(f.global.unit_to_mm, c.mm) << c.o.units_flag;
        EXPECT_DOUBLE_EQ(f.global.resolution, c.o.resolution);
        EXPECT_EQ(f.global.sender, "ruvane");
        EXPECT_EQ(!f.problems.empty(), c.problem) << c.o.units_flag;
        std::vector<Param> p;
        ASSERT_TRUE(entity_params(f, f.entries.at(0), Limits{}, &p));
        ASSERT_EQ(p.size(), 7u);
        EXPECT_DOUBLE_EQ(p[4].number, 1.0);
    }
}

// Records split over many P lines, with and without line ends, read back
// exactly; pointers out of the section are refused.
TEST(IgesRecords, ContinuationLinesAndLineEnds) {
    IgesBuilder b;
    std::vector<std::string> many;
    for (int i = 0; i < 60; ++i) many.push_back(IgesBuilder::num(i * 0.125 + 1e-9));
    many.push_back(IgesBuilder::text(std::string(150, 'q')));
    b.add(406, many, 15);
    b.add(116, {"1.", "2.", "3."}, 0, 0, "01010000");
    const std::string lf = b.str();
    std::string crlf, cr, fixed;
    for (char c : lf) {
        if (c == '\n')
            crlf += "\r\n", cr += '\r';
        else
            crlf += c, cr += c, fixed += c;
    }
    for (const std::string* s : {&lf, static_cast<const std::string*>(&crlf),
                                 static_cast<const std::string*>(&cr),
                                 static_cast<const std::string*>(&fixed)}) {
        File f;
        ASSERT_EQ(read_file(s->data(), s->size(), Limits{}, &f), ReadStatus::kOk);
        ASSERT_EQ(f.entries.size(), 2u);
        EXPECT_GT(f.entries[0].pd_count, 10);
        std::vector<Param> p;
        ASSERT_TRUE(entity_params(f, f.entries[0], Limits{}, &p));
        ASSERT_EQ(p.size(), 62u);
        for (int i = 0; i < 60; ++i) EXPECT_DOUBLE_EQ(p[1 + i].number, i * 0.125 + 1e-9);
        EXPECT_EQ(p[61].text, std::string(150, 'q'));
        EXPECT_EQ(f.entries[0].form, 15);
        EXPECT_EQ(f.entries[1].blank, 1);
        EXPECT_EQ(f.entries[1].subordinate, 1);
        EXPECT_EQ(f.entries[1].use, 0);
        DirEntry wild = f.entries[1];
        wild.pd_first = 1000;
        EXPECT_FALSE(entity_params(f, wild, Limits{}, &p));
        wild.pd_first = 1;
        wild.pd_count = 100000;
        EXPECT_FALSE(entity_params(f, wild, Limits{}, &p));
    }
}

// Directory fields as writers lay them out: right or left in their eight
// columns, a plus sign, blank for zero; anything else makes the entry
// unreadable (kept, typed -1, and named among the problems).
TEST(IgesRecords, DirectoryFieldSpellings) {
    struct Case {
        const char* field;  // the eight columns of the second field (the P pointer)
        bool readable;
    };
    const Case cases[] = {
        {"       1", true}, {"1       ", true}, {"  +1    ", true}, {"+1      ", true},
        {"   1 2  ", false}, {"   1x   ", false}, {"   +    ", false}, {"  ++1   ", false},
    };
    IgesBuilder b;
    b.add(116, {"1.", "2.", "3."});
    const std::string clean = b.str();
    const size_t d = clean.find("     116");
    ASSERT_NE(d, std::string::npos);
    ASSERT_EQ(clean[d + 72], 'D');
    for (const Case& c : cases) {
        std::string text = clean;
        text.replace(d + 8, 8, c.field);
        File f;
        ASSERT_EQ(read_file(text.data(), text.size(), Limits{}, &f), ReadStatus::kOk) << c.field;
        ASSERT_EQ(f.entries.size(), 1u);
        EXPECT_EQ(f.entries[0].type, c.readable ? 116 : -1) << c.field;
        EXPECT_EQ(f.problems.empty(), c.readable) << c.field;
        std::vector<Param> p;
        if (c.readable) {
            ASSERT_TRUE(entity_params(f, f.entries[0], Limits{}, &p)) << c.field;
            EXPECT_EQ(p.size(), 4u);
        }
    }
}

TEST(IgesRecords, WhatIsNoIgesFile) {
    struct Case {
        std::string text;
        ReadStatus want;
    };
    const std::string binary = std::string(72, ' ') + "B      1\n";
    const std::string compressed = std::string(72, ' ') + "C      1\n";
    const Case cases[] = {
        {"", ReadStatus::kNotIges},
        {"hello world\n", ReadStatus::kNotIges},
        {std::string(72, ' ') + "S      1\n", ReadStatus::kNotIges},
        {binary, ReadStatus::kUnsupportedForm},
        {compressed, ReadStatus::kUnsupportedForm},
    };
    for (const Case& c : cases) {
        File f;
        EXPECT_EQ(read_file(c.text.data(), c.text.size(), Limits{}, &f), c.want) << c.text;
    }
    IgesBuilder b;
    b.add(110, {"0.", "0.", "0.", "1.", "1.", "1."});
    const std::string s = b.str();
    Limits small;
    small.max_bytes = s.size() - 1;
    File f;
    EXPECT_EQ(read_file(s.data(), s.size(), small, &f), ReadStatus::kTooLarge);
}

}  // namespace
}  // namespace ruvane::iges
