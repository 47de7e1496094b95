// Companion folders: the references a page still makes, read as a browser
// resolves them, and the plan that keeps what they reach and moves the rest.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>
#include "app/companion.h"
#include "clean/refs.h"
#include "include/webtrim.h"
#include "platform/file.h"
#include "tests/native/support.h"

namespace {

// The paths a text's references resolve to against "/b" ("?" for one that
// cannot be resolved, "base:" before BASE's, "css:" before a style sheet's).
void Collect(void *context, RefKind kind, const char *text, size_t n)
{
    std::vector<std::string> *out = (std::vector<std::string> *)context;
    if (kind == kRefUnreadable) {
        out->push_back("unreadable");
        return;
    }
    char path[4096];
    RefTarget t = ResolveReference(text, n, "/b", path, sizeof path);
    std::string prefix = kind == kRefBase ? "base:" : kind == kRefStyleSheet ? "css:" : "";
    if (t == kTargetFile)
        out->push_back(prefix + path);
    else if (t == kTargetUnknown)
        out->push_back(prefix + "?");
}

std::string RefsOf(ByteStream *in, bool css, RefCharset charset)
{
    std::vector<std::string> out;
    if (css)
        ReadCssRefs(in, charset, Collect, &out);
    else
        ReadMarkupRefs(in, charset, Collect, &out);
    std::string joined;
    for (const std::string &s : out)
        joined += (joined.empty() ? "" : " ") + s;
    return joined;
}

// The references of a text read at once; read a byte and five bytes at a
// time, the readers must find the same (their runs end where a read does).
std::string Refs(const std::string &text, bool css, RefCharset charset = kCharsetUtf8)
{
    ByteStream in;
    StreamOpenMemory(&in, text.data(), text.size());
    std::string whole = RefsOf(&in, css, charset);
    for (size_t piece : {1, 5}) {
        Pieces p = {&text, piece};
        StreamOpenReader(&in, ReadPieces, &p);
        EXPECT_EQ(RefsOf(&in, css, charset), whole) << "read " << piece << " bytes at a time: " << text;
    }
    return whole;
}

}  // namespace

TEST(CompanionRefs, EverySpellingOfAReference)
{
    const std::string tooLong = "<img src=\"" + std::string(kRefMax + 10, 'a') + "\">";
    const std::string longQuery = "<a href=\"p_files/a.png?" + std::string(kRefMax + 10, 'q') + "\">";
    struct Case {
        const char *what;
        const char *text;
        bool css;
        const char *want;
    } cases[] = {
        {"relative", "<img src=p_files/a.png>", false, "/b/p_files/a.png"},
        {"dot slash, quoted", "<img src='./p_files/a.png'>", false, "/b/p_files/a.png"},
        {"dot dot back in", "<img src=\"x/../p_files/a.png\">", false, "/b/p_files/a.png"},
        {"percent-encoded", "<img src=\"p_files/a%20b.png\">", false, "/b/p_files/a b.png"},
        {"percent-encoded dot segment", "<img src=\"p_files/%2e%2E/q.png\">", false, "/b/q.png"},
        {"entity-encoded", "<img src=\"p&#95;files/a&period;png\">", false, "/b/p_files/a.png"},
        {"hex reference, non-ASCII", "<img src=\"p_files/caf&#xE9;.png\">", false, "/b/p_files/caf\xC3\xA9.png"},
        {"named reference unknown here", "<img src=\"p_files/caf&eacute;.png\">", false, "?"},
        {"raw UTF-8", "<img src=\"p_files/caf\xC3\xA9.png\">", false, "/b/p_files/caf\xC3\xA9.png"},
        {"backslash, blanks, query, fragment", "<a href=\" p_files\\a.htm?x=1#top \">", false,
         "/b/p_files/a.htm"},
        {"tab and line break inside", "<img src=\"p_fi\tles/a\n.png\">", false, "/b/p_files/a.png"},
        {"srcset candidates", "<img srcset=\"p_files/a.png 1x, p_files/b.png 2x,p_files/c.png\">", false,
         "/b/p_files/a.png /b/p_files/b.png /b/p_files/c.png"},
        {"srcset with commas in names", "<img srcset=\"p_files/a,b.png 1x, p_files/c.png\">", false,
         "/b/p_files/a,b.png /b/p_files/c.png"},
        {"poster, data, background, archive", "<video poster=v.png><object data=o.swf archive=\"x.jar y.jar\">"
         "<td background=bg.gif>", false, "/b/v.png /b/o.swf /b/x.jar /b/y.jar /b/bg.gif"},
        {"other hosts and schemes name no file",
         "<img src=http://h/a.png><img src=//h/b.png><a href=#x><a href=mailto:a@b><img src=\"data:,x\">",
         false, ""},
        {"file: of this machine, of another", "<img src=\"file:///b/p_files/a.png\"><img src=file://localhost/x/y>"
         "<img src=file://host/z><img src=\"file:///C:/Users/a.docx#x\"><img src=file:rel>",
         false, "/b/p_files/a.png /x/y /C:/Users/a.docx ?"},
        {"an encoded slash is one, an encoded NUL names nothing",
         "<img src=\"p_files%2Fa.png\"><img src=\"http%3A%2F%2Fh%2Fx\"><img src=\"a%00.png\">", false,
         "/b/p_files/a.png /b/http:/h/x"},
        {"BASE told apart", "<base href=\"http://example.com/\"><base href=./>", false, "base:/b"},
        {"LINK names a style sheet", "<link rel=stylesheet href=p_files/s.css>", false, "css:/b/p_files/s.css"},
        {"style attribute, url( escaped and in entities",
         "<p style=\"background:u&#114;l(p_files/a.png); x: url( 'p_files/b.png' )\">", false,
         "/b/p_files/a.png /b/p_files/b.png"},
        {"STYLE element, @import", "<style>@import 's.css'; a{background:URL(p_files/c.png)}</style><img src=d>",
         false, "css:/b/s.css /b/p_files/c.png /b/d"},
        {"comments and scripts name nothing",
         "<!-- <img src=a.png> --><script>x='<img src=b.png>'</script><img src=c.png>", false, "/b/c.png"},
        {"end tags name nothing", "</a href=x.htm><img src=y.png>", false, "/b/y.png"},
        {"css: comments, escapes, image-set", "/* url(x.png) */ a{b:url(a\\2e png);c:image-set(\"i.png\" 1x)}",
         true, "/b/a.png /b/i.png"},
        {"css: @import url(...)", "@import url(\"two.css\") screen;", true, "css:/b/two.css"},
        {"css: cut short at the end", "a{background:url(x.png", true, "/b/x.png"},
        {"a reference longer than the reader holds", tooLong.c_str(), false, "unreadable"},
        {"only a long query past it", longQuery.c_str(), false, "/b/p_files/a.png"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Refs(c.text, c.css), c.want) << c.what;
}

TEST(CompanionRefs, RawBytesInThePagesCharset)
{
    struct Case {
        const char *head;
        RefCharset charset;
        const char *want;
    } cases[] = {
        {"<meta charset=\"utf-8\">", kCharsetUtf8, "/b/\xE9.png"},
        {"<meta http-equiv=content-type content=\"text/html; charset=ISO-8859-1\">", kCharsetLatin,
         "/b/\xC3\xA9.png"},
        {"<meta charset=windows-1252>", kCharsetLatin, "/b/\xC3\xA9.png"},
        {"<meta charset=shift_jis>", kCharsetUnknown, "unreadable"},
        {"<p>no charset</p>", kCharsetUtf8, "/b/\xE9.png"},
    };
    for (const Case &c : cases) {
        std::string page = std::string(c.head) + "<img src=\"\xE9.png\">";
        RefCharset charset = PageCharset((const unsigned char *)page.data(), page.size());
        EXPECT_EQ(charset, c.charset) << c.head;
        EXPECT_EQ(Refs(page, false, charset), c.want) << c.head;
    }

    // In a charset not told, a raw byte past any file (another scheme, a
    // query, a fragment) leaves the reference readable; before, or in a
    // list, it does not.
    struct Raw {
        const char *markup, *want;
    } raws[] = {
        {"<a href=\"mailto:x@y?subject=\xE9\">", ""},
        {"<a href=\" ma\tilto:\xE9@y\">", ""},
        {"<img src=\"p.png?\xE9\"><img src=\"q#\xE9\">", "/b/p.png /b/q"},
        {"<p style=\"background:url('http://h/\xE9')\">", ""},
        {"<img src=\"file:///x/\xE9.png\">", "unreadable"},
        {"<img src=\"\xE9.png?x\">", "unreadable"},
        {"<img srcset=\"http://h/\xE9 1x, a.png 2x\">", "unreadable"},
    };
    for (const Raw &r : raws)
        EXPECT_EQ(Refs(r.markup, false, kCharsetUnknown), r.want) << r.markup;
}

namespace {

struct Layout {
    const char *what;
    // Files to make: "path=content"; "path@" is made a link to the page,
    // "path@target" a link to `target` of the same folder.
    std::vector<std::string> files;
    std::vector<std::string> gone;          // below p_files, moved into the target
    int outcome;
};

void Make(const std::string &root, const std::string &entry)
{
    size_t eq = entry.find('=');
    std::string path = root + "/" + entry.substr(0, eq);
    for (size_t slash = path.find('/', root.size() + 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    size_t at = entry.find('@');
    if (at != std::string::npos && at < eq) {
        std::string link = root + "/" + entry.substr(0, at), to = entry.substr(at + 1);
        ASSERT_EQ(symlink((root + "/" + (to.empty() ? "p.htm" : to)).c_str(), link.c_str()), 0);
        return;
    }
    WriteFile(path, eq == std::string::npos ? "x" : entry.substr(eq + 1));
}

// Every file below `folder`, sorted, as paths from it.
void ListBelow(const std::string &folder, const std::string &prefix, std::set<std::string> *out)
{
    for (const std::string &name : ListFolder(folder)) {
        struct stat st;
        std::string path = folder + "/" + name;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            ListBelow(path, prefix + name + "/", out);
        else
            out->insert(prefix + name);
    }
}

}  // namespace

TEST(CompanionPlan, WhatIsReachedStaysAndTheRestGoesToTheTarget)
{
    const char *page = "p.htm=<link rel=stylesheet href=p_files/s.css><img src=\"p_files/a%20b.png\">"
                       "<img srcset=\"p_files/x1.png 1x, ./p_files/x2.png 2x\"><a href=\"p_files/f&#46;htm\">f</a>"
                       "<object data=p_files/pic.svg></object>";
    Layout cases[] = {
        {"references of every kind, a CSS chain, an SVG, a frame",
         {page, "p_files/a b.png", "p_files/x1.png", "p_files/x2.png", "p_files/s.css=@import 'css/t.css';",
          "p_files/css/t.css=b{background:url(../img/bg.png)}", "p_files/img/bg.png",
          "p_files/pic.svg=<svg><image href=\"img/in.png\"/></svg>", "p_files/img/in.png",
          "p_files/f.htm=<img src=img/framed.png>", "p_files/img/framed.png", "p_files/track.js",
          "p_files/img/ad.gif", "p_files/deep/er/gone.png"},
         {"deep/er/gone.png", "img/ad.gif", "track.js"},
         kCompanionTrimmed},
        {"a file another page of the folder names stays",
         {"p.htm=<img src=p_files/a.png>", "q.html=<img src='p_files/shared.png'>", "p_files/a.png",
          "p_files/shared.png", "p_files/b.png"},
         {"b.png"},
         kCompanionTrimmed},
        {"a link in the folder is moved as itself, not followed",
         {"p.htm=<img src=p_files/a.png>", "p_files/a.png", "p_files/to-page@"},
         {"to-page"},
         kCompanionTrimmed},
        {"a reached link stays", {"p.htm=<img src=p_files/l.png>", "p_files/l.png@", "p_files/b.png"}, {"b.png"},
         kCompanionTrimmed},
        {"a BASE elsewhere keeps everything",
         {"p.htm=<base href=\"http://example.com/\"><img src=p_files/a.png>", "p_files/a.png", "p_files/b.png"},
         {},
         kCompanionBaseElsewhere},
        {"a BASE naming the page's folder changes nothing",
         {"p.htm=<base href=\"./\"><img src=p_files/a.png>", "p_files/a.png", "p_files/b.png"}, {"b.png"},
         kCompanionTrimmed},
        {"a reference that cannot be resolved keeps everything",
         {"p.htm=<img src=\"p_files/caf&eacute;.png\">", "p_files/b.png"}, {}, kCompanionUnresolved},
        {"one that cannot be resolved in a reached style sheet keeps everything too",
         {"p.htm=<link rel=stylesheet href=p_files/s.css>", "p_files/s.css=b{background:url(file:bg.png)}",
          "p_files/bg.png", "p_files/b.png"},
         {},
         kCompanionUnresolved},
        {"another suffix", {"p.htm=<img src=p.files/a.png>", "p.files/a.png", "p.files/b.png"}, {"b.png"},
         kCompanionTrimmed},
        {"no companion folder", {"p.htm=<img src=a.png>", "a.png"}, {}, kCompanionNone},
        {"a companion folder that is a link is left alone",
         {"p.htm=<img src=real/a.png>", "real/a.png", "real/b.png", "p_files@real"}, {}, kCompanionNone},
        {"a link to a folder inside goes as a link, its folder untouched",
         {"p.htm=<img src=p_files/a.png>", "p_files/a.png", "elsewhere/keep.png", "p_files/dir@elsewhere"},
         {"dir"},
         kCompanionTrimmed},
        {"a reached style sheet that is a link is not read",
         {"p.htm=<link rel=stylesheet href=p_files/s.css>", "outside.css=a{b:url(p_files/x.png)}",
          "p_files/s.css@outside.css", "p_files/x.png"},
         {"x.png"},
         kCompanionTrimmed},
        {"another page's BASE or unresolved reference keeps its own folder, not this one",
         {"p.htm=<img src=p_files/a.png>", "q.htm=<base href=\"http://h/\"><img src=p_files/c.png>",
          "r.htm=<img src=\"x&eacute;.png\"><img src=p_files/d.png>", "p_files/a.png", "p_files/b.png",
          "p_files/c.png", "p_files/d.png"},
         {"b.png"},     // c.png too is kept: what a page beside names is read as if it had no BASE
         kCompanionTrimmed},
        {"a folder emptied goes, with its subfolders",
         {"p.htm=<p>nothing named</p>", "p_files/a.png", "p_files/in/b.png"}, {"a.png", "in/b.png"},
         kCompanionTrimmed},
    };
    for (const Layout &c : cases) {
        TempDir dir;
        std::string site = dir.File("site"), target = dir.File("old");
        mkdir(site.c_str(), 0755);
        mkdir(target.c_str(), 0755);
        for (const std::string &f : c.files)
            Make(site, f);
        std::set<std::string> before;
        ListBelow(site, "", &before);
        HeldFolder folder;
        ASSERT_TRUE(OpenHeldFolder(site.c_str(), &folder));
        DisposalTarget t;
        OpenDisposalTarget(false, target.c_str(), &t);
        FileHandle cleaned;
        PageIdentity id;
        ASSERT_TRUE(OpenEntryForReading(&folder, "p.htm", &cleaned, &id));
        for (bool preview : {true, false}) {
            CompanionReport report;
            TrimCompanionFolder(&folder, "p.htm", cleaned, &t, preview, nullptr, nullptr, nullptr, &report);
            EXPECT_EQ(report.outcome, c.outcome) << c.what;
            EXPECT_EQ(report.files, (int64_t)c.gone.size()) << c.what << (preview ? " (preview)" : "");
        }
        PlatformClose(cleaned);
        CloseHeldFolder(&folder);
        CloseDisposalTarget(&t);
        std::set<std::string> after, moved, want;
        ListBelow(site, "", &after);
        ListBelow(dir.File("old"), "", &moved);
        std::string companion = c.outcome == kCompanionTrimmed && c.files[1].compare(0, 7, "p.files") == 0
                                    ? "p.files/" : "p_files/";
        for (const std::string &g : c.gone) {
            want.insert(companion + g);
            EXPECT_TRUE(before.count(companion + g)) << c.what << ": " << g;
            before.erase(companion + g);
        }
        EXPECT_EQ(after, before) << c.what;
        EXPECT_EQ(moved, want) << c.what;
        // An emptied subfolder goes; one still holding a file stays.
        if (!c.gone.empty() && c.gone[0] == "deep/er/gone.png") {
            EXPECT_FALSE(Exists(site + "/p_files/deep")) << c.what;
        }
        if (!c.gone.empty() && c.gone[0] == "a.png") {
            EXPECT_FALSE(Exists(site + "/p_files")) << c.what;
        }
        if (c.files.size() > 2 && c.files[2] == "elsewhere/keep.png") {
            EXPECT_EQ(ReadFile(site + "/elsewhere/keep.png"), "x") << c.what;
        }
    }
}

TEST(CompanionPlan, TheLibrarysCleanOfAFileTrimsAndCounts)
{
    TempDir dir;
    WriteFile(dir.File("p.htm"), "<table><tr><td><p>Text enough to stay the page.</p><img src=p_files/a.png>"
                                 "<script src=p_files/t.js></script></td></tr></table>");
    mkdir(dir.File("p_files").c_str(), 0755);
    WriteFile(dir.File("p_files/a.png"), "png");
    WriteFile(dir.File("p_files/t.js"), "script");
    mkdir(dir.File("old").c_str(), 0755);
    struct Case {
        const char *what;
        size_t optionsSize;     // 0: the record as this header has it
        int outcome;
        int64_t files;
    } cases[] = {
        {"a record from before the switch: the folder stays", offsetof(wt_options, companion_files), 0, 0},
        {"the defaults now: what the page no longer names goes", 0, 1, 1},
    };
    for (const Case &c : cases) {
        wt_options o;
        wt_options_init(&o, c.optionsSize ? c.optionsSize : sizeof o);
        wt_file_result r;
        r.size = sizeof r;
        WriteFile(dir.File("p.htm"), ReadFile(dir.File("p.htm")) + " ");
        ASSERT_EQ(wt_clean_file(&o, dir.File("p.htm").c_str(), dir.File("old").c_str(), &r), WT_OK) << c.what;
        EXPECT_EQ(r.page, WT_PAGE_CLEANED) << c.what << r.message;
        EXPECT_STREQ(wt_companion_name(r.companion_outcome), c.outcome ? "trimmed" : "none") << c.what;
        EXPECT_EQ(r.companion_files, c.files) << c.what;
    }
    EXPECT_EQ(ListFolder(dir.File("p_files")), std::vector<std::string>{"a.png"});
    EXPECT_EQ(ReadFile(dir.File("old/p_files/t.js")), "script");
}

namespace {

// A record of the folder's pages as a call of many pages keeps it: one
// other page that reaches "shared.png", and what the planner gave back.
struct FakeNeighbours {
    std::string folder;
    PageReach shared;
    std::vector<std::string> recorded;
    int asked = 0;
};

bool FakeForEach(void *context, const HeldFolder *, const char *pageName,
                 void (*each)(void *eachContext, const PageReach *reach), void *eachContext)
{
    FakeNeighbours *n = (FakeNeighbours *)context;
    n->asked++;
    EXPECT_STREQ(pageName, "p.htm");
    each(eachContext, &n->shared);
    return true;
}

void FakeCleaned(void *context, const HeldFolder *, const char *pageName, PageReach *reach)
{
    FakeNeighbours *n = (FakeNeighbours *)context;
    n->recorded.push_back(pageName);
    for (size_t i = 0; i < reach->count; i++)
        n->recorded.push_back(reach->paths[i]);
    FreePageReach(reach);
}

}  // namespace

TEST(CompanionPlan, TheOtherPagesFromTheCallsRecordAndTheCleanedPageIntoIt)
{
    TempDir dir;
    WriteFile(dir.File("p.htm"), "<link rel=stylesheet href=p_files/s.css><img src=p_files/a.png><img src=up.png>");
    // The folder's own other page would keep b.png: the record is asked instead.
    WriteFile(dir.File("q.htm"), "<img src=p_files/b.png>");
    mkdir(dir.File("p_files").c_str(), 0755);
    for (const char *name : {"a.png", "b.png", "shared.png", "s.css"})
        WriteFile(dir.File(std::string("p_files/") + name), "x");
    FakeNeighbours n;
    memset(&n.shared, 0, sizeof n.shared);
    n.shared.stop = kCompanionTrimmed;
    char *one = strdup(("p" + dir.File("p_files/shared.png")).c_str());
    n.shared.paths = &one;
    n.shared.count = n.shared.capacity = 1;
    CompanionNeighbours record = {&n, FakeForEach, FakeCleaned, nullptr, nullptr};

    HeldFolder folder;
    ASSERT_TRUE(OpenHeldFolder(dir.path.c_str(), &folder));
    DisposalTarget t;
    mkdir(dir.File("old").c_str(), 0755);
    OpenDisposalTarget(false, dir.File("old").c_str(), &t);
    FileHandle page;
    PageIdentity id;
    ASSERT_TRUE(OpenEntryForReading(&folder, "p.htm", &page, &id));
    std::vector<std::string> told;
    CompanionProc each = [](void *context, const char *path, int64_t size) {
        ((std::vector<std::string> *)context)->push_back(std::string(path) + " " + std::to_string(size));
    };
    CompanionReport report;
    TrimCompanionFolder(&folder, "p.htm", page, &t, true, each, &told, &record, &report);
    EXPECT_EQ(told, std::vector<std::string>{dir.File("p_files/b.png") + " 1"}) << "previewed";
    EXPECT_TRUE(n.recorded.empty()) << "a preview records nothing";
    told.clear();
    TrimCompanionFolder(&folder, "p.htm", page, &t, false, each, &told, &record, &report);
    EXPECT_EQ(told, std::vector<std::string>{dir.File("old/p_files/b.png") + " 1"});
    EXPECT_EQ(n.asked, 2);
    // The page's own reach: only what lies in a subfolder, style sheets marked.
    EXPECT_EQ(n.recorded, (std::vector<std::string>{"p.htm", "c" + dir.File("p_files/s.css"),
                                                    "p" + dir.File("p_files/a.png")}));
    EXPECT_EQ(ListFolder(dir.File("p_files")), (std::vector<std::string>{"a.png", "s.css", "shared.png"}));
    PlatformClose(page);
    CloseHeldFolder(&folder);
    CloseDisposalTarget(&t);
    free(one);
}

TEST(CompanionPlan, WhichPathsMayBeAnotherFoldersCompanionFiles)
{
    struct Case {
        const char *path, *folder;
        bool far;
    } cases[] = {
        {"/s/a/x_files/pic.png", "/s/b", true},         // a page of b/ naming a/'s
        {"/s/b/x_files/pic.png", "/s/b", false},        // its own folder's: the folder's plan sees it
        {"/s/b/x_files/sub/pic.png", "/s/b", false},
        {"/s/b/sub/y_files/pic.png", "/s/b", true},     // a subfolder's page's companion folder
        {"/s/b/x_files/y_files/p.png", "/s/b", true},   // more is kept, never less
        {"/s/b/pic.png", "/s/b", false},
        {"/s/a/pics/pic.png", "/s/b", false},           // no folder bears a companion name
        {"/s/a/_files/pic.png", "/s/b", false},         // a suffix alone is no name
        {"/x-Dateien/a.css", "/", false},
        {"/x-Dateien/a.css", "/s", true},
        {"/s/a/x_files", "/s/b", false},                // the folder itself is no file of it
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsFarPath(c.path, c.folder), c.far) << c.path << " from " << c.folder;
}
