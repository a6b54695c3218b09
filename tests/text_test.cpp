// Text from files and the command line as it is shown, and the labels a history accepts.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "common/text.hpp"
#include "history/store.hpp"
#include "process.hpp"
#include "report/exports.hpp"

TEST(Text, ControlCharactersAndBrokenUtf8AreWrittenOutAndTheRestKept) {
    const struct {
        std::string text;
        bool utf8;
        bool control;
        std::string shown;
    } cases[] = {
        {"gcc-13 after-fix", true, false, "gcc-13 after-fix"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", true, false, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"\x1b[2J\x1b]0;title\a", true, true, "\\x1b[2J\\x1b]0;title\\x07"},
        {"two\nlines\ttab\r", true, true, "two\\x0alines\\x09tab\\x0d"},
        {"del\x7f", true, true, "del\\x7f"},
        {"c1 \xc2\x9b" "31m", true, true, "c1 \\u009b31m"},
        {"nbsp\xc2\xa0ok", true, false, "nbsp\xc2\xa0ok"},
        {"bad \xff byte", false, false, "bad \\xff byte"},
        {"overlong \xc0\xaf", false, false, "overlong \\xc0\\xaf"},
        {"surrogate \xed\xa0\x80", false, false, "surrogate \\xed\\xa0\\x80"},
        {"beyond \xf4\x90\x80\x80", false, false, "beyond \\xf4\\x90\\x80\\x80"},
        {"cut \xe2\x82", false, false, "cut \\xe2\\x82"},
        {std::string("nul\0in", 6), true, true, "nul\\x00in"},
        {"back\\slash", true, false, "back\\slash"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(valid_utf8(c.text), c.utf8) << c.shown;
        EXPECT_EQ(has_control(c.text), c.control) << c.shown;
        EXPECT_EQ(printable(c.text), c.shown);
        EXPECT_EQ(printable(printable(c.text)), c.shown) << "written out once";
        EXPECT_TRUE(valid_utf8(printable(c.text)) && !has_control(printable(c.text))) << c.shown;
    }
}

TEST(Text, ShortenedKeepsWholeCharactersAndMarksTheCut) {
    EXPECT_EQ(shortened("abcdef", 4), "abc\u2026");
    EXPECT_EQ(shortened("abcd", 4), "abcd");
    EXPECT_EQ(shortened("\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f", 3), "\xc3\xa4\xc3\xb6\u2026") << "two umlauts, not a byte of one";
    EXPECT_EQ(shortened("", 3), "");
}

TEST(Text, LabelsShowAsTheyAreAndNameTheirRunsAlone) {
    const struct {
        std::string label;
        const char* refused; // part of the refusal, or null when accepted
    } cases[] = {
        {"gcc-13", nullptr},
        {"", nullptr},
        {"v1.2 (after merge)", nullptr},
        {"latest", "already names a run (the newest run)"},
        {"1", "already names a run (a run id)"},
        {"007", "already names a run (a run id)"},
        {"latest2", nullptr},
        {"\x1b[2J\x1b]0;title\a", "control characters"},
        {"two\nlines", "control characters"},
        {"c1\xc2\x9b", "control characters"},
        {"bad\xff", "UTF-8"},
        {std::string(200, 'x'), nullptr},
        {std::string(201, 'x'), "at most 200 bytes long, not 201"},
    };
    for (const auto& c : cases) {
        const auto refusal = label_refusal(c.label);
        if (c.refused == nullptr) {
            EXPECT_FALSE(refusal) << printable(c.label) << ": " << refusal.value_or("");
        } else {
            ASSERT_TRUE(refusal) << printable(c.label);
            EXPECT_NE(refusal->find(c.refused), std::string::npos) << *refusal;
        }
    }
}

// A record whose host, CPU model and a strategy's name hold escapes and broken UTF-8: no format
// carries a control character or a broken byte through, and the SVG stays XML.
TEST(Text, NoFormatCarriesAControlCharacterThrough) {
    benchmark_results r = sample_results();
    r.context.host_name = "\x1b[2J\x1b]0;owned\a";
    r.context.cpu_model = "cpu \xff\xfe <b>";
    r.strategies.back().name = "evil\x9b" "31m\nname";
    for (const auto& format : exporters) {
        if (format.run == nullptr) {
            continue;
        }
        std::ostringstream out;
        format.run(r, out);
        const std::string text = out.str();
        std::string lines_removed;
        for (const char ch : text) {
            lines_removed += ch == '\n' || ch == '\r' ? ' ' : ch;
        }
        EXPECT_TRUE(valid_utf8(text)) << format.option;
        EXPECT_FALSE(has_control(lines_removed)) << format.option;
    }
}
