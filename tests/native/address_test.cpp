// Reading addresses as a browser does: character references, blanks and
// controls, schemes, lists and refreshes, one byte at a time and whole.
#include <gtest/gtest.h>
#include <string>
#include "clean/address.h"

namespace {

using std::string;

struct AddressCase {
    const char *value;
    AddressSyntax syntax;
    bool wantDataType;
    AddressKind expected;
};

const AddressKind kNet = kAddressNetwork, kOther = kAddressOther, kScript = kAddressScript;
const AddressKind kData = kAddressData, kPage = kAddressMarkupData;

const AddressCase kCases[] = {
    // Schemes in any case; the ones that go to the network.
    {"http://a/b.gif", kSyntaxOne, false, kNet},
    {"HtTpS://a", kSyntaxOne, false, kNet},
    {"ftp://a", kSyntaxOne, false, kNet},
    {"ws://a", kSyntaxOne, false, kNet},
    {"WSS://a", kSyntaxOne, false, kNet},
    {"http:a", kSyntaxOne, false, kNet},
    {"file:///c:/a", kSyntaxOne, false, kOther},
    {"about:blank", kSyntaxOne, false, kOther},
    {"mailto:x@y", kSyntaxOne, false, kOther},
    {"httpx://a", kSyntaxOne, false, kOther},
    {"xhttp://a", kSyntaxOne, false, kOther},
    {"h-t.tp+s://a", kSyntaxOne, false, kOther},
    {"averyveryverylongscheme://a", kSyntaxOne, false, kOther},
    // Another host: any two of '/' and '\'.
    {"//host/a", kSyntaxOne, false, kNet},
    {"\\\\host\\a", kSyntaxOne, false, kNet},
    {"/\\host", kSyntaxOne, false, kNet},
    {"\\/host", kSyntaxOne, false, kNet},
    {"/a/b", kSyntaxOne, false, kOther},
    {"a/b", kSyntaxOne, false, kOther},
    {"#x", kSyntaxOne, false, kOther},
    {"", kSyntaxOne, false, kOther},
    {"/", kSyntaxOne, false, kOther},
    // Leading bytes up to 0x20 skipped; tab, LF and CR ignored inside.
    {" \t\n\x01\x1f https://a", kSyntaxOne, false, kNet},
    {"ht\ttp\n://a", kSyntaxOne, false, kNet},
    {"/\t/host", kSyntaxOne, false, kNet},
    {"java\r\nscript:x", kSyntaxOne, false, kScript},
    {"ht\x01tp://a", kSyntaxOne, false, kOther},
    {"\xa0http://a", kSyntaxOne, false, kOther},
    {"/ /host", kSyntaxOne, false, kOther},
    // Character references, with and without ';'.
    {"&#104;ttp://a", kSyntaxOne, false, kNet},
    {"&#x68;ttps://a", kSyntaxOne, false, kNet},
    {"&#X48;TTP://a", kSyntaxOne, false, kNet},
    {"&#0000104ttp://a", kSyntaxOne, false, kNet},
    {"http&colon;//a", kSyntaxOne, false, kNet},
    {"ht&Tab;tp://a", kSyntaxOne, false, kNet},
    {"&NewLine;javascript:x", kSyntaxOne, false, kScript},
    {"&#32;&#9;javascript:x", kSyntaxOne, false, kScript},
    {"&sol;&sol;host", kSyntaxOne, false, kNet},
    {"&bsol;&bsol;host", kSyntaxOne, false, kNet},
    {"http&colon//a", kSyntaxOne, false, kOther},     // no ';': "&colon" is not a name without one
    {"&amp;http://a", kSyntaxOne, false, kOther},
    {"&#;http://a", kSyntaxOne, false, kOther},
    {"&#x;http://a", kSyntaxOne, false, kOther},
    {"&#0;http://a", kSyntaxOne, false, kOther},
    {"&unknown;http://a", kSyntaxOne, false, kOther},
    {"&VeryLongNameThatIsNoReference;x", kSyntaxOne, false, kOther},
    {"&", kSyntaxOne, false, kOther},
    {"&#104", kSyntaxOne, false, kOther},
    // Scripts.
    {"javascript:alert(1)", kSyntaxOne, false, kScript},
    {"JaVaScRiPt:x", kSyntaxOne, false, kScript},
    {"vbscript:x", kSyntaxOne, false, kScript},
    {"javascripts:x", kSyntaxOne, false, kOther},
    // data: and its media type, when asked for.
    {"data:text/html,<b>", kSyntaxOne, true, kPage},
    {"data:image/svg+xml;base64,xx", kSyntaxOne, true, kPage},
    {"DATA:Application/XHTML+XML,x", kSyntaxOne, true, kPage},
    {"data:text/x&#109;l,x", kSyntaxOne, true, kPage},
    {"data: text/html ,x", kSyntaxOne, true, kPage},
    {"data:image/png;base64,xx", kSyntaxOne, true, kData},
    {"data:,hello", kSyntaxOne, true, kData},
    {"data:text/html,x", kSyntaxOne, false, kData},
    {"data:text/html", kSyntaxOne, true, kPage},
    {"data:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa,x", kSyntaxOne, true, kPage},
    // Lists: any network address counts; a script only as the first.
    {"a.jpg 1x, b.jpg 2x", kSyntaxList, false, kOther},
    {"a.jpg 1x, https://x/b.jpg 2x", kSyntaxList, false, kNet},
    {"a.jpg,//x/b.jpg", kSyntaxList, false, kNet},
    {"a.jpg\t\n//x/b.jpg", kSyntaxList, false, kNet},
    {"  ,, http://x", kSyntaxList, false, kNet},
    {"a.jpg 1x,&#104;ttp://x 2x", kSyntaxList, false, kNet},
    {"javascript:x 1x", kSyntaxList, false, kScript},
    {"a.jpg, javascript:x", kSyntaxList, false, kOther},
    {"ht\ttp://x", kSyntaxList, false, kOther},     // a blank parts the list first
    // Refreshes.
    {"0; url=http://a", kSyntaxRefresh, false, kNet},
    {"5;URL='https://a'", kSyntaxRefresh, false, kNet},
    {"5 , url = \"//a\"", kSyntaxRefresh, false, kNet},
    {"0;https://a", kSyntaxRefresh, false, kNet},
    {"0 https://a", kSyntaxRefresh, false, kNet},
    {".5;url=http://a", kSyntaxRefresh, false, kNet},
    {"1.5.5; url=http://a", kSyntaxRefresh, false, kNet},
    {"0; url=page2.htm", kSyntaxRefresh, false, kOther},
    {"0;url http://a", kSyntaxRefresh, false, kOther},  // no '=': "url http:..." is the address
    {"0;uhttp://a", kSyntaxRefresh, false, kOther},
    {"0;urlx://a", kSyntaxRefresh, false, kOther},
    {"0; url=javascript:x", kSyntaxRefresh, false, kScript},
    {"x; url=http://a", kSyntaxRefresh, false, kOther},
    {"5", kSyntaxRefresh, false, kOther},
    {"0;url='a.htm'http://b", kSyntaxRefresh, false, kOther},
    {"0&#59; url&#61;http://a", kSyntaxRefresh, false, kNet},
    // Each way from the time to the address.
    {"0 ; url=http://a", kSyntaxRefresh, false, kNet},
    {"0 url=http://a", kSyntaxRefresh, false, kNet},
    {"0;url = 'http://a'", kSyntaxRefresh, false, kNet},
    {"0;'http://a'", kSyntaxRefresh, false, kNet},
    {"0;url='//a", kSyntaxRefresh, false, kNet},        // decided before its quote closes
    {"0;URL=\"a.htm\" http://b", kSyntaxRefresh, false, kOther},
    {"0;ur", kSyntaxRefresh, false, kOther},
    {"0; url", kSyntaxRefresh, false, kOther},
};

TEST(Address, KindsWholeAndByteByByte)
{
    for (const AddressCase &c : kCases) {
        string v = c.value;
        EXPECT_EQ(ReadAddress((const unsigned char *)v.data(), v.size(), c.syntax, c.wantDataType),
                  c.expected)
            << v;
        // One byte at a time, then in spans: the same answer, and a decided
        // answer never changes with more bytes.
        AddressReader r;
        StartAddressReader(&r, c.syntax, c.wantDataType, true);
        AddressKind early = kAddressUndecided;
        for (unsigned char b : v) {
            AddressKind k = AddressReaderByte(&r, b);
            if (early != kAddressUndecided) {
                EXPECT_EQ(k, early) << v;
            }
            early = k;
        }
        EXPECT_EQ(FinishAddressReader(&r), c.expected) << v;
        for (size_t piece = 1; piece <= 7; piece += 3) {
            StartAddressReader(&r, c.syntax, c.wantDataType, true);
            for (size_t at = 0; at < v.size() && r.kind == kAddressUndecided;) {
                size_t n = std::min(piece, v.size() - at);
                at += AddressReaderSpan(&r, (const unsigned char *)v.data() + at, n);
            }
            EXPECT_EQ(FinishAddressReader(&r), c.expected) << v << " in pieces of " << piece;
        }
    }
}

TEST(Address, DecidedFromTheHeadAlone)
{
    // The answer comes from the first bytes: what follows is never read.
    const char *heads[] = {"https:", "//", "javascript:", "data:text/html,", "#", "x y"};
    for (const char *h : heads) {
        AddressReader r;
        StartAddressReader(&r, kSyntaxOne, true, true);
        for (const char *p = h; *p; p++)
            AddressReaderByte(&r, (unsigned char)*p);
        EXPECT_NE(r.kind, kAddressUndecided) << h;
    }
}

struct RefCase {
    const char *text;
    const char *decoded;
};

TEST(CharRefs, DecodedAsInAnAttribute)
{
    const RefCase cases[] = {
        {"a&amp;b", "a&b"},          {"&lt;&gt;&quot;", "<>\""},   {"&ampx", "&ampx"},
        {"&amp=", "&amp="},          {"&amp x", "& x"},            {"&colon;&sol;", ":/"},
        {"&fjlig;", "fj"},           {"&#65;&#x42;&#X43", "ABC"},  {"&#1114112;", "\xef\xbf\xbd"},
        {"&#65x", "Ax"},             {"&#&#65;", "&#A"},           {"&&amp;", "&&"},
        {"&Tab;", "\t"},             {"&tab;", "&tab;"},           {"&eacute;", "&eacute;"},
        // Cut short, or ended by a byte no reference takes.
        {"&", "&"},                  {"& ", "& "},                 {"&#", "&#"},
        {"&#x;", "&#x;"},            {"&#XZ", "&#XZ"},             {"&#x41", "A"},
        {"&lt", "<"},                {"&lt=", "&lt="},             {"&colon", "&colon"},
        {"&#0;", "\xef\xbf\xbd"},
        {"&abcdefghijklmnopq;", "&abcdefghijklmnopq;"},     // longer than any name we know
    };
    for (const RefCase &c : cases) {
        CharRefDecoder d;
        StartCharRefs(&d);
        string out;
        DecodedChar chars[kRefOutMax];
        int64_t at = 0;
        auto put = [&](int n) {
            for (int i = 0; i < n; i++) {
                uint32_t ch = chars[i].c;
                if (ch < 0x80)
                    out += (char)ch;
                else
                    out += "\xef\xbf\xbd";      // any character outside ASCII
            }
        };
        for (const char *p = c.text; *p; p++, at++)
            put(CharRefByte(&d, (unsigned char)*p, at, chars));
        put(FinishCharRefs(&d, at, chars));
        EXPECT_EQ(out, c.decoded) << c.text;
    }
}

}  // namespace
