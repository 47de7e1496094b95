// Fuzz target: the attribute pass with Scripts and Internet on, its output
// read back by a small reader of its own that follows the browser's
// tokenizer switches (raw text and RCDATA, NOSCRIPT with scripting on,
// PLAINTEXT, comments, CDATA in foreign content, the tags that leave SVG and
// MathML, integration points). No start tag that reader finds may keep an
// event handler, nor a network address in src, data or poster. The output
// is the same whatever the read sizes.
//
// The reader is written from the browser's rules, not from the filter: it
// keeps the whole stack of foreign elements and of the HTML elements open
// inside them, reads a page whole, and knows nothing of holds or runs.
#include <string.h>
#include <string>
#include <vector>
#include "app/options.h"
#include "clean/passes.h"
#include "fuzz/harness.h"

namespace {

enum Space { kHtml, kSvg, kMath };

struct Node {
    std::string name;       // lower case
    Space space;
};

struct Attr {
    std::string name, value;
};

bool In(const std::string &name, const char *const *list)
{
    for (; *list; list++)
        if (name == *list)
            return true;
    return false;
}

const char *const kRawText[] = {"script", "style", "xmp", "iframe", "noembed", "noframes",
                                "noscript", "textarea", "title", nullptr};
const char *const kBreakout[] = {
    "b", "big", "blockquote", "body", "br", "center", "code", "dd", "div", "dl", "dt", "em",
    "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head", "hr", "i", "img", "li", "listing",
    "menu", "meta", "nobr", "ol", "p", "pre", "ruby", "s", "small", "span", "strong", "strike",
    "sub", "sup", "table", "tt", "u", "ul", "var", nullptr};
const char *const kVoid[] = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link",
                             "meta", "source", "track", "wbr", "param", "keygen", "frame",
                             "basefont", "bgsound", "image", nullptr};
const char *const kMathText[] = {"mi", "mo", "mn", "ms", "mtext", nullptr};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsAlpha(char c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c + 32);
    return s;
}

struct Reader {
    const std::string &page;
    size_t at = 0;
    std::vector<Node> stack;        // from the first foreign element on
    std::vector<int> encodings;     // per stack entry: annotation-xml of HTML

    explicit Reader(const std::string &p) : page(p) {}

    const Node *Current() const { return stack.empty() ? nullptr : &stack.back(); }

    bool HtmlPoint(size_t i) const
    {
        const Node &n = stack[i];
        if (n.space == kSvg)
            return n.name == "foreignobject" || n.name == "desc" || n.name == "title";
        return n.space == kMath && n.name == "annotation-xml" && encodings[i];
    }

    bool TextPoint(size_t i) const
    {
        return stack[i].space == kMath && In(stack[i].name, kMathText);
    }

    bool CurrentIsHtml() const { return stack.empty() || stack.back().space == kHtml; }

    bool StartIsHtml(const std::string &name) const
    {
        if (CurrentIsHtml())
            return true;
        size_t top = stack.size() - 1;
        if (TextPoint(top) && name != "mglyph" && name != "malignmark")
            return true;
        if (stack[top].space == kMath && stack[top].name == "annotation-xml" && name == "svg")
            return true;
        return HtmlPoint(top);
    }

    void Push(const std::string &name, Space space, bool html)
    {
        stack.push_back({name, space});
        encodings.push_back(html);
    }

    void Pop()
    {
        stack.pop_back();
        encodings.pop_back();
    }

    void LeaveForeign()
    {
        while (!stack.empty() && stack.back().space != kHtml && !TextPoint(stack.size() - 1) &&
               !HtmlPoint(stack.size() - 1))
            Pop();
    }

    // Reads up to the end of the raw text of `name`, or the page's end.
    void SkipRawText(const std::string &name)
    {
        for (;;) {
            size_t lt = page.find("</", at);
            if (lt == std::string::npos) {
                at = page.size();
                return;
            }
            size_t e = lt + 2 + name.size();
            if (e < page.size() && Lower(page.substr(lt + 2, name.size())) == name &&
                (IsBlank(page[e]) || page[e] == '/' || page[e] == '>')) {
                at = lt;
                return;
            }
            at = lt + 1;
        }
    }

    void HtmlStart(const std::string &name, bool selfClosing)
    {
        if (name == "svg" || name == "math") {
            if (!selfClosing)
                Push(name, name == "svg" ? kSvg : kMath, false);
            return;
        }
        if (!stack.empty() && !In(name, kVoid))
            Push(name, kHtml, false);
        if (name == "plaintext")
            at = page.size();
        else if (In(name, kRawText))
            SkipRawText(name);
    }

    void ForeignStart(const std::string &name, bool selfClosing, bool htmlEncoding)
    {
        if (!selfClosing)
            Push(name, stack.back().space, htmlEncoding);
    }

    void EndTag(const std::string &name)
    {
        if (CurrentIsHtml()) {
            // Pops the HTML element of that name, never past a foreign one.
            for (size_t i = stack.size(); i-- > 0;) {
                if (stack[i].space != kHtml)
                    return;
                if (stack[i].name == name) {
                    stack.resize(i);
                    encodings.resize(i);
                    return;
                }
            }
            return;
        }
        if (name == "p" || name == "br") {
            LeaveForeign();
            return;
        }
        for (size_t i = stack.size(); i-- > 0;) {
            if (stack[i].name == name) {
                stack.resize(i);
                encodings.resize(i);
                return;
            }
            if (i > 0 && stack[i - 1].space == kHtml)
                return;
        }
    }

    // A tag from its '<': false when the page ends inside it (no element).
    bool Tag(bool end)
    {
        size_t p = at + (end ? 2 : 1);
        size_t n = p;
        while (n < page.size() && !IsBlank(page[n]) && page[n] != '/' && page[n] != '>')
            n++;
        std::string name = Lower(page.substr(p, n - p));
        std::vector<Attr> attrs;
        bool selfClosing = false;
        p = n;
        for (;;) {
            while (p < page.size() && (IsBlank(page[p]) || page[p] == '/')) {
                selfClosing = page[p] == '/' && p + 1 < page.size() && page[p + 1] == '>';
                p++;
            }
            if (p >= page.size())
                return false;
            if (page[p] == '>')
                break;
            size_t a = p++;
            while (p < page.size() && !IsBlank(page[p]) && page[p] != '/' && page[p] != '>' &&
                   page[p] != '=')
                p++;
            Attr attr = {Lower(page.substr(a, p - a)), ""};
            while (p < page.size() && IsBlank(page[p]))
                p++;
            if (p < page.size() && page[p] == '=') {
                p++;
                while (p < page.size() && IsBlank(page[p]))
                    p++;
                if (p < page.size() && (page[p] == '"' || page[p] == '\'')) {
                    size_t q = page.find(page[p], p + 1);
                    if (q == std::string::npos)
                        return false;
                    attr.value = page.substr(p + 1, q - p - 1);
                    p = q + 1;
                } else {
                    size_t v = p;
                    while (p < page.size() && !IsBlank(page[p]) && page[p] != '>')
                        p++;
                    attr.value = page.substr(v, p - v);
                }
            }
            attrs.push_back(attr);
        }
        at = p + 1;
        if (end) {
            EndTag(name);
            return true;
        }
        Check(name, attrs);
        bool fontBreaks = false, htmlEncoding = false;
        for (const Attr &a : attrs) {
            fontBreaks = fontBreaks || a.name == "color" || a.name == "face" || a.name == "size";
            std::string v = Lower(a.value);
            htmlEncoding = htmlEncoding || (a.name == "encoding" &&
                                            (v == "text/html" || v == "application/xhtml+xml"));
        }
        if (StartIsHtml(name)) {
            HtmlStart(name, selfClosing);
        } else if (In(name, kBreakout) || (name == "font" && fontBreaks)) {
            LeaveForeign();
            HtmlStart(name, selfClosing);
        } else {
            ForeignStart(name, selfClosing, htmlEncoding);
        }
        return true;
    }

    static void Check(const std::string &tag, const std::vector<Attr> &attrs)
    {
        for (const Attr &a : attrs) {
            Require(!(a.name.size() >= 3 && a.name[0] == 'o' && a.name[1] == 'n' && IsAlpha(a.name[2])),
                    "inert: an event handler is live in the cleaned page");
            if (a.name != "src" && a.name != "data" && a.name != "poster")
                continue;
            size_t v = 0;
            while (v < a.value.size() && (unsigned char)a.value[v] <= 0x20)
                v++;
            std::string head = Lower(a.value.substr(v, 8));
            bool network = head.compare(0, 5, "http:") == 0 || head.compare(0, 6, "https:") == 0 ||
                           head.compare(0, 2, "//") == 0;
            Require(!network || tag.empty(), "inert: a network address is live in the cleaned page");
        }
    }

    void Run()
    {
        while (at < page.size()) {
            size_t lt = page.find('<', at);
            if (lt == std::string::npos)
                return;
            at = lt;
            const char *s = page.c_str() + lt;
            size_t left = page.size() - lt;
            if (left >= 4 && memcmp(s, "<!--", 4) == 0) {
                size_t p = lt + 4;
                if (p < page.size() && page[p] == '>') {
                    at = p + 1;
                    continue;
                }
                if (p + 1 < page.size() && page[p] == '-' && page[p + 1] == '>') {
                    at = p + 2;
                    continue;
                }
                size_t a = page.find("-->", p), b = page.find("--!>", p);
                size_t e = a < b ? a + 3 : b == std::string::npos ? page.size() : b + 4;
                at = e;
                continue;
            }
            if (!CurrentIsHtml() && left >= 9 && memcmp(s, "<![CDATA[", 9) == 0) {
                size_t e = page.find("]]>", lt + 9);
                at = e == std::string::npos ? page.size() : e + 3;
                continue;
            }
            bool end = left >= 2 && s[1] == '/';
            size_t name = end ? 2 : 1;
            if (left > name && IsAlpha(s[name])) {
                if (!Tag(end))
                    return;
                continue;
            }
            if (left >= 2 && (s[1] == '!' || s[1] == '?' || end)) {
                size_t e = page.find('>', lt + 1);
                at = e == std::string::npos ? page.size() : e + 1;
                continue;
            }
            at = lt + 1;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t options = (OptionsOf(data, size) & kOptStyles) | kOptScripts | kOptInternet;
    std::string page = PageOf(data, size);
    std::string out = RunStage(AttributePass, page, options);
    size_t piece = 1 + ((OptionsOf(data, size) >> 13) & 7) * 5;
    Require(RunStageTrickled(AttributePass, page, options, piece) == out,
            "inert: the same output whatever the read sizes");
    Reader reader(out);
    reader.Run();
    return 0;
}
