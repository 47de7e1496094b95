// The attribute pass over small pages, long tags, random bytes and the corpus.
#include <gtest/gtest.h>
#include <stdlib.h>
#include "app/options.h"
#include "clean/passes.h"
#include "tests/native/support.h"

namespace {

const uint32_t kS = kOptStyles, kI = kOptInternet, kB = kOptStyles | kOptInternet;
using std::string;

const std::vector<PageCase> kCases = {
    {"table bg", "<body background=\"http:b.gif\" text=red>", kB, "<body  text=red>"},
    {"table bg apos", "<td background='http:b.gif'>", kB, "<td >"},
    {"table bg local", "<td background=\"img/b.gif\">", kB, "<td background=\"img/b.gif\">"},
    {"table style", "<p style=\"color:red\">", kB, "<p >"},
    {"table unquoted", "<p style=color:red;margin:0>", kB, "<p margin:0>"},
    {"table no semicolon", "<p style=color:red>", kB, "<p style=color:red>"},
    {"table url", "<div style=\"background: url(http:b.gif) repeat\">", kB, "<div >"},
    {"upper bg", "<TD BACKGROUND=\"HTTP:B.GIF\">", kI, "<TD >"},
    {"upper url", "<I TITLE=URL(X)>", kI, "<I TITLE=>"},
    {"upper style", "<P STYLE=\"A\">", kS, "<P >"},
    {"mystyle", "<p class=mystyle style=\"x\">", kB, "<p class=mystyle >"},
    {"every url", "<i style=\"a:url(x)\" title=\"url(y)\">", kI, "<i style=\"a:\" title=\"\">"},
    {"url without paren", "<i style=\"url(x\" id=1>", kI, "<i style=\"url(x\" id=1>"},
    {"inside name", "<td fontstyle=\"x\">", kB, "<td fontstyle=\"x\">"},
    {"http later", "<td background=a.gif title=\"http:x\">", kI, "<td background=a.gif title=\"http:x\">"},
    {"no gap: a longer name", "<td backgroundhttp:xyz>", kI, "<td backgroundhttp:xyz>"},
    {"blank in bg value", "<td background=\"http:a b.gif\">", kI, "<td  b.gif\">"},
    {"bg line feed gap", "<td background=\n\"http:x\">", kI, "<td >"},
    {"bg value ends at lf", "<td background=http:x\nid=1>", kI, "<td id=1>"},
    {"bg two equals", "<td background==http:x>", kI, "<td background==http:x>"},
    {"style line feed gap", "<p style\n=\"x\">", kS, "<p style\n=\"x\">"},
    {"style letters gap", "<p style x=\"y\">", kS, "<p style x=\"y\">"},
    {"quote in the name", "<p style\" = \"x\">", kS, "<p style\" = \"x\">"},
    {"style apos plain", "<p style='color:red'>", kS, "<p style='color:red'>"},
    {"style apos semicolon", "<p style='a:b; c:d'>", kS, "<p  c:d'>"},
    {"style quoted semicolon", "<p style=\"a;b\" id=1>", kS, "<p  id=1>"},
    {"style no equals", "<p style>", kS, "<p style>"},
    {"gt in quoted value", "<a title=\"x>y\" style=\"c\">", kB, "<a title=\"x>y\" style=\"c\">"},
    {"lt inside tag", "<a <b style=\"x\">", kB, "<a <b >"},
    {"url in text", "<style>p{background:url(x)}</style>", kB, "<style>p{background:url(x)}</style>"},
    {"unfinished tag kept unedited", "a<b style=\"x\"", kB, "a<b style=\"x\""},
    {"unfinished plain", "text<b", 0, "text<b"},
    {"lone '<' at the end", "a > b <", kB, "a > b <"},
    {"empty tag", "<><<>>", kB, "<><<>>"},
        {"removal spells style", "<p styurl(a)le=\"b\">", kB, "<p >"},
    {"bits off", "<p style=\"x\" background=\"http:y\">", 0, "<p style=\"x\" background=\"http:y\">"},
    {"styles only", "<td background=\"http:x\" style=\"y\">", kS, "<td background=\"http:x\" >"},
    {"internet only", "<td background=\"http:x\" style=\"y\">", kI, "<td  style=\"y\">"},
    {"nul after removal", string("<p style=\"x\"\0 id=1>", 19), kS, string("<p \0 id=1>", 10)},
    {"nul before removal", string("<p \0 style=\"x\">", 15), kS, string("<p \0 >", 6)},
    {"nul in gap", string("<p style\0=\"x\">", 14), kS, string("<p style\0=\"x\">", 14)},
};

TEST(AttributePass, Cases)
{
    RunPageCases(AttributePass, kCases);
}

// A rule acts on an attribute whose whole name is its keyword, in any case,
// as a browser splits the tag; and it acts again until none is left, so
// the pass over its own output changes nothing.
const std::vector<PageCase> kWholeNameCases = {
    {"data-style", "<p data-style=\"x\" style=\"color:red\">", kS, "<p data-style=\"x\" >"},
    {"data-style alone", "<p data-style=\"x\">", kB, "<p data-style=\"x\">"},
    {"style in a handler", "<div onmouseover=\"this.style.cursor=1;\" style=\"h:6px\">", kS,
     "<div onmouseover=\"this.style.cursor=1;\" >"},
    {"style in a value", "<p title=\"style=x;\">", kS, "<p title=\"style=x;\">"},
    {"the tag's own name", "<style type=\"text/css\">", kS, "<style type=\"text/css\">"},
    {"mixed case twice", "<p STYLE=\"a\" Style=\"b\">", kS, "<p  >"},
    {"after a quoted value", "<p x=\"1\"style=\"b\">", kS, "<p x=\"1\">"},
    {"after a slash", "<p/style=\"b\">", kS, "<p/>"},
    {"blanks around =", "<p style = \"b\">", kS, "<p >"},
    {"first unremovable stays", "<p style=a style=b>", kS, "<p style=a style=b>"},
    {"data-background", "<td data-background=\"http:x\" background=\"http:y\">", kI,
     "<td data-background=\"http:x\" >"},
    {"background twice", "<td background=http:x background=http:y>", kS | kI, "<td>"},
    {"urls in one value", "<i style=\"url(a) url(b)\">", kI, "<i style=\" \">"},
    {"url then style", "<i style=\"x:url(a);\" style=\"y\">", kB, "<i  >"},
};

TEST(AttributePass, WholeNamesAndRounds)
{
    RunPageCases(AttributePass, kWholeNameCases);
    for (const PageCase &c : kWholeNameCases) {
        std::string once = RunPass(AttributePass, c.input, c.options);
        EXPECT_EQ(once, RunPass(AttributePass, once, c.options)) << c.name;
    }
}

TEST(AttributePass, TagsAtTheBufferLimit)
{
    // A tag of 4095 bytes is edited; one of 4096 is written as it came, and
    // the tag after it is edited again.
    string head = "<p style=\"x\"";
    string t4095 = head + string(4095 - head.size() - 1, ' ') + ">";
    string t4096 = head + string(4096 - head.size() - 1, ' ') + ">";
    EXPECT_EQ("<p " + t4095.substr(head.size()), RunPass(AttributePass, t4095, kB));
    EXPECT_EQ(t4096 + "<p >", RunPass(AttributePass, t4096 + "<p style=\"x\">", kB));
    // The rest of an over-long tag is text, even where it looks like a tag.
    string huge = "<p" + string(10000, '"') + " style=\"x\">";
    EXPECT_EQ(huge, RunPass(AttributePass, huge, kB));
}

TEST(AttributePass, RandomBytesNeverBreakThePage)
{
    const char *pieces[] = {"<", ">", "\"", "'", "=", " ", "\n", ";", "(", ")", "x", "",
                            "style", "url(", "background", "http:", "\xff"};
    srand(4);
    for (int round = 0; round < 3000; round++) {
        string in;
        int n = rand() % (round < 2900 ? 60 : 3000);
        for (int i = 0; i < n; i++) {
            int k = rand() % 17;
            in += k == 11 ? string(1, '\0') : string(pieces[k]);
        }
        string out = RunPass(AttributePass, in, round % 2 ? kB : 0);
        ASSERT_LE(out.size(), in.size());
        if (round % 2 == 0) {
            ASSERT_EQ(in, out);     // with both switches off, a copy
        }
    }
}

// The page with every tag dropped, tags being '<' through the next '>'.
string TextOutsideTags(const string &page)
{
    string text;
    bool inTag = false;
    for (char c : page) {
        if (!inTag && c == '<')
            inTag = true;
        else if (inTag && c == '>')
            inTag = false;
        else if (!inTag)
            text += c;
    }
    return text;
}

// Without Internet and Scripts the pass edits tags only as '<' to the next
// '>' (the inert filter reads them as a browser does; see inert_test.cpp).
TEST(AttributePass, CorpusKeepsTextOutsideTags)
{
    std::vector<string> files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus";
    for (const string &f : files) {
        string in = ReadFile(f);
        string out = RunPass(AttributePass, in, kS);
        ASSERT_LE(out.size(), in.size()) << f;
        ASSERT_EQ(TextOutsideTags(in), TextOutsideTags(out)) << f;
    }
}

}  // namespace
