// What a clean removed, by kind: one table of kinds, their stable names
// (the command line's -v and --json, the library's result) and a tally that
// the passes fill.
//
// The names are an interface: scripts and other programs read them. A kind
// is only ever added at the end; none is renamed or reordered.
#pragma once
#include <stdint.h>

// X(id, name, what)
#define WEBTRIM_REMOVAL_KINDS(X)                                                              \
    X(kRemovedComments, "comments", "comments")                                               \
    X(kRemovedStyles, "styles", "STYLE elements")                                             \
    X(kRemovedScripts, "scripts", "SCRIPT elements")                                          \
    X(kRemovedForms, "forms", "FORM elements")                                                \
    X(kRemovedFrames, "frames", "FRAME, IFRAME, FRAMESET and NOFRAMES elements")              \
    X(kRemovedMeta, "meta", "META tags")                                                      \
    X(kRemovedModules, "modules", "OBJECT, EMBED and APPLET elements")                        \
    X(kRemovedPictures, "pictures", "IMG tags")                                               \
    X(kRemovedBase, "base", "BASE tags")                                                      \
    X(kRemovedLinks, "links", "LINK tags")                                                    \
    X(kRemovedBodyAttributes, "body-attributes", "BODY tags written without attributes")      \
    X(kRemovedStyleAttributes, "style-attributes", "style attributes")                        \
    X(kRemovedUrlReferences, "url-references", "url(...) references in tags")                 \
    X(kRemovedBackgrounds, "backgrounds", "background attributes with a network address")     \
    X(kRemovedHandlers, "handlers", "event-handler attributes (onload=, onclick=...)")        \
    X(kRemovedScriptUrls, "script-urls", "javascript: and vbscript: values, srcdoc, HTML data: URLs") \
    X(kRemovedNetworkAttributes, "network-attributes", "attributes that load from the network") \
    X(kRemovedCssReferences, "css-references", "@import rules and url(...) in STYLE elements") \
    X(kRemovedNetworkElements, "network-elements",                                            \
      "elements removed because they load from the network while their own kind is kept")

enum RemovalKind {
#define WEBTRIM_REMOVAL_ID(id, name, what) id,
    WEBTRIM_REMOVAL_KINDS(WEBTRIM_REMOVAL_ID)
#undef WEBTRIM_REMOVAL_ID
    kRemovalKindCount
};

struct RemovalKindInfo {
    const char *name;           // stable: lower case, words joined by '-'
    const char *what;           // for people: the help and the manual
};
extern const RemovalKindInfo kRemovalKinds[kRemovalKindCount];

// How many of each kind were removed, and how many bytes of the page went
// with them (a deleted element with its content and the blank after it; an
// attribute with its name, value and the blank before it; a rewritten BODY
// tag: the bytes it lost).
struct RemovalTally {
    int64_t count[kRemovalKindCount];
    int64_t bytes[kRemovalKindCount];
};

// Whether a kind is the element pass's (else the attribute pass's).
inline bool IsElementKind(int kind)
{
    return kind < kRemovedStyleAttributes || kind == kRemovedNetworkElements;
}

inline void TallyRemoval(RemovalTally *t, RemovalKind kind, int64_t bytes)
{
    if (!t)
        return;
    t->count[kind]++;
    t->bytes[kind] += bytes;
}
