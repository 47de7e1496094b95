// Element removal pass: copies the page and leaves out the elements and tags
// that the switches choose (comments, STYLE, SCRIPT, FORM, BASE, IMG,
// FRAME, IFRAME, LINK, META, OBJECT, EMBED, APPLET, FRAMESET, NOFRAMES), and
// rewrites the BODY start tag without its attributes. Where a tag is judged
// by what it would load, any network address counts (IsRemoteLink,
// HasNetworkValue); with Internet on, a META refresh to one goes even when
// it names a charset. (With Metatags off, META tags are not looked at here:
// the attribute stage takes such a refresh's content.) Each deletion is
// counted by what the deleted thing is (kElementKinds), with the blank
// after it.
//
// States (ScanState):
//   0    copy: bytes go straight to the output until a '<' begins a tag.
//   100  tag name: the '<' and the name bytes so far are in the tag buffer
//        and are matched against the names of ElementTable still among the
//        Candidates.
//   200  drop a tag up to its '>' (IMG, EMBED, BODY), or a comment up to
//        "-->" (CommentTail holds the last two bytes read).
//   210  skip an element up to its closing text, e.g. "</SCRIPT>".
//   300  collect a tag in the tag buffer up to its '>', then decide on it.
//   400  after a deletion: one space, or a CR, is dropped.
//   410  after a deletion and a CR: one line feed or space is dropped.
//   500  inside a deleted OBJECT, waiting for a '<'.
//   510  after '<' (and any '/'), 511..515 after O, OB, OBJ, OBJE, OBJEC:
//        an OBJECT start raises ObjectDepth, an end lowers it.
//   516  the last OBJECT end tag, dropped up to its '>'.
//   600  inside a FORM being deleted, waiting for a '<'.
//   610  after '<', 620 after "</", 630 after "<T" or "</T", 631..633 after
//        TA, TAB, TABL: a TD, TR or TABLE tag restores the form.
//   650..652 after "</F", "</FO", "</FOR"; 653 "</FORM" up to its '>'.
//
// Writes: every byte outside a deleted element or tag, unchanged, once and
// in order; a kept tag from the tag buffer when its '>' arrives (or when its name
// matches no element); "<BODY>" for a BODY tag when bad colours are avoided;
// the first 4096 bytes of an over-long tag (AppendTagByte), after which the
// rest of that tag is copied as text. A tag still unfinished when the input
// ends is decided as if its '>' followed, and written as it stands when it
// would be kept (see FinishAtEnd); an element still open is not written.
//
// States 0, 200, 210, 300, 500 and 600 pass over or copy whole runs of bytes
// up to the next byte that can change the state ('<', '>'), exactly as byte
// after byte would; state 0 also copies a '<' and the byte after it when
// that byte begins no name of the pass (CopyToTag).
//
// Invariants: the tag buffer holds the current tag from its '<' while in 100 and
// 300, and "<FORM" as read while in 600..653. Name matching never reads past
// a name: a candidate whose name is complete is recognised at once. The
// input goes back only in the FORM restore, to the position just after the
// FORM's name, and never to a stretch that an earlier restore scan has
// already examined (see RestoreForm), so the pass reads each byte at most
// twice.
#include <string.h>
#include "clean/passes.h"

enum {
    kStateCopy = 0,
    kStateTagName = 100,
    kStateDropTag = 200,
    kStateSkipToCloser = 210,
    kStateCollectTag = 300,
    kStateAfterDeletion = 400,
    kStateAfterDeletionCr = 410,
    kStateObject = 500,
    kStateObjectLt = 510,
    kStateObjectO = 511,
    kStateObjectOB = 512,
    kStateObjectOBJ = 513,
    kStateObjectOBJE = 514,
    kStateObjectOBJEC = 515,
    kStateObjectEnd = 516,
    kStateForm = 600,
    kStateFormLt = 610,
    kStateFormLtSlash = 620,
    kStateFormT = 630,
    kStateFormTA = 631,
    kStateFormTAB = 632,
    kStateFormTABL = 633,
    kStateFormEndF = 650,
    kStateFormEndFO = 651,
    kStateFormEndFOR = 652,
    kStateFormEnd = 653,
};

enum {
    kElementComment = 0,
    kElementStyle = 1,
    kElementScript = 2,
    kElementForm = 3,
    kElementBase = 4,
    kElementImg = 5,
    kElementFrame = 6,
    kElementIframe = 7,
    kElementLink = 8,
    kElementMeta = 9,
    kElementObject = 10,
    kElementEmbed = 11,
    kElementApplet = 12,
    kElementBody = 13,
    kElementFrameset = 14,
    kElementNoframes = 15,
    kElementCount = 16,
};

struct ElementEntry {
    const char *name;           // upper case
    int32_t nameLength;
    const char *closer;         // the closing text, or "" where there is none
    int32_t closerLength;
};

// FORM and OBJECT end through states of their own; their closing texts are
// listed but never matched.
// What a deleted element counts as.
static const RemovalKind kElementKinds[kElementCount] = {
    kRemovedComments, kRemovedStyles, kRemovedScripts, kRemovedForms,
    kRemovedBase, kRemovedPictures, kRemovedFrames, kRemovedFrames,
    kRemovedLinks, kRemovedMeta, kRemovedModules, kRemovedModules,
    kRemovedModules, kRemovedBodyAttributes, kRemovedFrames, kRemovedFrames,
};

static constexpr ElementEntry ElementTable[kElementCount] = {
    {"!--", 3, "", 0},
    {"STYLE", 5, "</STYLE>", 8},
    {"SCRIPT", 6, "</SCRIPT>", 9},
    {"FORM", 4, "</FORM>", 7},
    {"BASE", 4, "", 0},
    {"IMG", 3, "", 0},
    {"FRAME ", 6, "", 0},       // the blank keeps FRAMESET out
    {"IFRAME", 6, "</IFRAME>", 9},
    {"LINK", 4, "", 0},
    {"META", 4, "", 0},
    {"OBJECT", 6, "</OBJECT>", 9},
    {"EMBED", 5, "", 0},
    {"APPLET", 6, "</APPLET>", 9},
    {"BODY", 4, "", 0},
    {"FRAMESET", 8, "</FRAMESET>", 11},
    {"NOFRAMES", 8, "</NOFRAMES>", 11},
};

enum { kNameMax = 8 };

// Name matching as sets of elements, bit i for ElementTable[i]: at[k][c] are
// the elements whose name has byte c, folded to upper case, at position k;
// endsAt[k] those whose name ends there.
struct NameSets {
    uint32_t at[kNameMax][256];
    uint32_t endsAt[kNameMax];
};

static constexpr NameSets BuildNameSets()
{
    NameSets sets = {};
    for (int i = 0; i < kElementCount; i++) {
        const ElementEntry &e = ElementTable[i];
        sets.endsAt[e.nameLength - 1] |= 1u << i;
        for (int k = 0; k < e.nameLength; k++) {
            for (int c = 0; c < 256; c++) {
                int upper = c >= 'a' && c <= 'z' ? c - 32 : c;
                if (upper == (unsigned char)e.name[k])
                    sets.at[k][c] |= 1u << i;
            }
        }
    }
    return sets;
}

static constexpr NameSets kNameSets = BuildNameSets();

// The state of one pass over one input.
struct ElementScanner {
    ByteStream *input;
    ByteStream *output;
    CleanSwitches sw;
    uint32_t ElementFlags;      // the elements this pass looks at
    int32_t ScanState;
    int32_t ElementIndex;       // the element recognised at the current tag
    uint32_t Candidates;        // elements whose names still match (100)
    int32_t CloserPos;          // bytes of the closing text matched (210)
    unsigned char CommentTail[2];   // the last two bytes of a comment (200)
    bool ObjectClosing;         // a '/' followed the '<' (510)
    int32_t ObjectDepth;        // open OBJECT elements being deleted
    int64_t FormStart;          // input position just after "<FORM"
    // Input position just past the table tag at which the last FORM restore
    // scan stopped; -1 before the first restore.
    int64_t RestoreScanEnd;
    RemovalTally *tally;        // null: nothing counted
    int64_t DeletionStart;      // input position of the deleted element's '<'
    RemovalKind DeletionKind;   // what the last deletion counted as
    TagBuffer tag;
};

// Which elements a pass recognises; an element whose flag is clear passes
// through untouched.
static uint32_t ElementFlagsOf(const CleanSwitches *sw)
{
    bool internet = sw->internet, modules = sw->modules, frames = sw->frames;
    struct {
        int element;
        bool on;
    } const flags[] = {
        {kElementComment, sw->comments && sw->scripts},
        {kElementStyle, sw->styles},
        {kElementScript, sw->scripts || internet},
        {kElementForm, sw->forms},
        {kElementBase, internet},
        {kElementImg, sw->pictures || internet},
        {kElementFrame, internet || !frames},
        {kElementIframe, internet || frames},
        {kElementLink, sw->styles || internet},
        {kElementMeta, sw->meta},
        {kElementObject, modules || internet},
        {kElementEmbed, modules || internet},
        {kElementApplet, modules || internet},
        {kElementBody, sw->badColors},
        {kElementFrameset, frames},
        {kElementNoframes, frames},
    };
    uint32_t set = 0;
    for (const auto &f : flags)
        if (f.on)
            set |= 1u << f.element;
    return set;
}

static void WriteTag(ElementScanner *s)
{
    WriteTagBuffer(&s->tag, s->output);
}

// A deletion begins at the tag in the buffer, the last bytes read.
static void BeginDeletion(ElementScanner *s)
{
    if (s->tally)
        s->DeletionStart = StreamTell(s->input) - s->tag.length;
}

// What the element being deleted counts as: the kind of the switch that
// removed it. One that its own switch keeps, and that goes because it
// loads from the network, counts as a network element. A META tag is
// judged on the tag in the buffer.
static RemovalKind DeletionKindOf(const ElementScanner *s)
{
    const CleanSwitches &sw = s->sw;
    bool own = true;
    switch (s->ElementIndex) {
    case kElementScript:
        own = sw.scripts;
        break;
    case kElementImg:
        own = sw.pictures;
        break;
    case kElementIframe:
        own = sw.frames;
        break;
    case kElementFrame:
        own = !sw.internet;
        break;
    case kElementLink:
        own = sw.styles;
        break;
    case kElementMeta:
        own = !(sw.internet && IsNetworkRefresh(&s->tag));
        break;
    case kElementObject:
    case kElementEmbed:
    case kElementApplet:
        own = sw.modules;
        break;
    }
    return own ? kElementKinds[s->ElementIndex] : kRemovedNetworkElements;
}

// The deletion ends with the last byte read: state 400 follows.
static void EndDeletion(ElementScanner *s)
{
    if (s->tally) {
        s->DeletionKind = DeletionKindOf(s);
        TallyRemoval(s->tally, s->DeletionKind, StreamTell(s->input) - s->DeletionStart);
    }
    s->ScanState = kStateAfterDeletion;
}

// State 400 or 410 dropped one more byte of the last deletion.
static void ExtendDeletion(ElementScanner *s)
{
    if (s->tally)
        s->tally->bytes[s->DeletionKind]++;
}

// A '<' in states 0, 400 and 410.
static void BeginTag(ElementScanner *s)
{
    ResetTagBuffer(&s->tag);
    AppendTagByte(&s->tag, '<', s->output);
    s->Candidates = s->ElementFlags;
    s->ScanState = kStateTagName;
}

static bool Contains(const ElementScanner *s, const char *token)
{
    return FindToken(s->tag.bytes, s->tag.length, token) >= 0;
}

// Reads the form again as text from just after its name: "<FORM" is
// written as it was read and copying resumes in state 0.
static void RestoreForm(ElementScanner *s)
{
    s->RestoreScanEnd = StreamTell(s->input);
    // An input that cannot go back counts as unreadable: the pass stops and
    // the caller sees the read error.
    if (!StreamSeek(s->input, s->FormStart))
        s->input->readError = true;
    WriteTag(s);
    s->ScanState = kStateCopy;
}

// What a recognised element does first.
static void StartElement(ElementScanner *s, int index)
{
    s->ElementIndex = index;
    s->CloserPos = 0;
    BeginDeletion(s);       // for those deleted from here on
    switch (index) {
    case kElementComment:
        s->CommentTail[0] = '-';
        s->CommentTail[1] = '-';
        s->ScanState = kStateDropTag;
        break;
    case kElementStyle:
    case kElementFrameset:
    case kElementNoframes:
        s->ScanState = kStateSkipToCloser;
        break;
    case kElementScript:
        s->ScanState = s->sw.scripts ? kStateSkipToCloser : kStateCollectTag;
        break;
    case kElementForm:
        s->FormStart = StreamTell(s->input);
        // A restore scan that began before this "<FORM" passed it in state
        // 600, just as this form's own scan would start, so this scan would
        // stop at the same table tag: restore without scanning again.
        if (s->FormStart <= s->RestoreScanEnd) {
            WriteTag(s);
            s->ScanState = kStateCopy;
        } else {
            s->ScanState = kStateForm;
        }
        break;
    case kElementImg:
        s->ScanState = s->sw.pictures ? kStateDropTag : kStateCollectTag;
        break;
    case kElementIframe:
        s->ScanState = s->sw.frames ? kStateSkipToCloser : kStateCollectTag;
        break;
    case kElementEmbed:
        s->ScanState = s->sw.modules ? kStateDropTag : kStateCollectTag;
        break;
    case kElementApplet:
        s->ScanState = s->sw.internet ? kStateCollectTag : kStateSkipToCloser;
        break;
    case kElementBody:
        s->ScanState = kStateDropTag;
        break;
    default:        // BASE, FRAME, LINK, META, OBJECT
        s->ScanState = kStateCollectTag;
        break;
    }
}

// State 100: the byte has been appended, so the tag's length counts the '<'
// and the name bytes read so far. Of the names that end at this byte, the
// first in ElementTable's order is the one recognised.
static void MatchName(ElementScanner *s, unsigned char c)
{
    int at = s->tag.length - 2;
    uint32_t left = s->Candidates & kNameSets.at[at][c];
    uint32_t ended = left & kNameSets.endsAt[at];
    if (ended) {
        StartElement(s, __builtin_ctz(ended));
        return;
    }
    s->Candidates = left;
    if (!left) {
        // Not an element of this pass; the byte that ended the match is
        // written with the tag and not looked at again.
        WriteTag(s);
        s->ScanState = kStateCopy;
    }
}

// What a collected tag comes to, decided at its '>'.
enum TagVerdict {
    kKeepTag,
    kDropTag,
    kDropElement,       // the tag and its element up to the closing text
    kDropObject,        // the tag and its OBJECT element, nested ones counted
};

// OBJECT and APPLET: "http:" anywhere in the tag, or a network address as
// the value of any attribute.
static bool LoadsFromNetwork(const ElementScanner *s)
{
    return Contains(s, "HTTP:") || HasNetworkValue(&s->tag);
}

// The tag buffer holds the whole tag, ending with its '>'.
static TagVerdict JudgeTag(const ElementScanner *s)
{
    const CleanSwitches &sw = s->sw;
    const TagBuffer *t = &s->tag;
    switch (s->ElementIndex) {
    case kElementScript:
    case kElementIframe:
        return IsRemoteLink(t, true) ? kDropElement : kKeepTag;
    case kElementBase:
        return IsRemoteLink(t, false) ? kDropTag : kKeepTag;
    case kElementImg:
    case kElementFrame:
    case kElementEmbed:
        return IsRemoteLink(t, true) ? kDropTag : kKeepTag;
    case kElementLink:
        if (Contains(s, "STYLESHEET") && (sw.styles || (sw.internet && IsRemoteLink(t, false))))
            return kDropTag;
        return kKeepTag;
    case kElementMeta:
        if (sw.internet && IsNetworkRefresh(t))
            return kDropTag;
        if (sw.meta && !Contains(s, "CHARSET") && (sw.styles || !Contains(s, "CONTENT-STYLE")))
            return kDropTag;
        return kKeepTag;
    case kElementObject:
        return sw.modules || (sw.internet && LoadsFromNetwork(s)) ? kDropObject : kKeepTag;
    case kElementApplet:
        return sw.modules || (sw.internet && LoadsFromNetwork(s)) ? kDropElement : kKeepTag;
    }
    return kKeepTag;
}

// State 300 at the tag's '>': keep the tag, delete it, or delete the
// element that it starts.
static void DecideTag(ElementScanner *s)
{
    TagVerdict verdict = JudgeTag(s);
    if (verdict != kKeepTag)
        BeginDeletion(s);
    switch (verdict) {
    case kKeepTag:
        WriteTag(s);
        s->ScanState = kStateCopy;
        break;
    case kDropTag:
        EndDeletion(s);
        break;
    case kDropElement:
        s->CloserPos = 0;
        s->ScanState = kStateSkipToCloser;
        break;
    case kDropObject:
        s->ObjectDepth = 1;
        s->ScanState = kStateObject;
        break;
    }
}

// States 510 to 516 (500 waits for its '<' in ElementStep).
static void StepObject(ElementScanner *s, unsigned char c)
{
    unsigned char u = UpperAscii(c);
    switch (s->ScanState) {
    case kStateObject:
        if (c == '<') {
            s->ObjectClosing = false;
            s->ScanState = kStateObjectLt;
        }
        break;
    case kStateObjectLt:
        if (c == '/')
            s->ObjectClosing = true;
        else
            s->ScanState = u == 'O' ? kStateObjectO : kStateObject;
        break;
    case kStateObjectO:
        s->ScanState = u == 'B' ? kStateObjectOB : kStateObject;
        break;
    case kStateObjectOB:
        s->ScanState = u == 'J' ? kStateObjectOBJ : kStateObject;
        break;
    case kStateObjectOBJ:
        s->ScanState = u == 'E' ? kStateObjectOBJE : kStateObject;
        break;
    case kStateObjectOBJE:
        s->ScanState = u == 'C' ? kStateObjectOBJEC : kStateObject;
        break;
    case kStateObjectOBJEC:
        s->ScanState = kStateObject;
        if (u != 'T')
            break;
        if (!s->ObjectClosing)
            s->ObjectDepth++;
        else if (--s->ObjectDepth == 0)
            s->ScanState = kStateObjectEnd;
        break;
    case kStateObjectEnd:
        if (c == '>')
            EndDeletion(s);
        break;
    }
}

// States 600 to 653.
static void StepForm(ElementScanner *s, unsigned char c)
{
    unsigned char u = UpperAscii(c);
    switch (s->ScanState) {
    case kStateForm:
        if (c == '<')
            s->ScanState = kStateFormLt;
        break;
    case kStateFormLt:
        s->ScanState = c == '/' ? kStateFormLtSlash : u == 'T' ? kStateFormT : kStateForm;
        break;
    case kStateFormLtSlash:
        s->ScanState = u == 'T' ? kStateFormT : u == 'F' ? kStateFormEndF : kStateForm;
        break;
    case kStateFormT:
        if (u == 'D' || u == 'R')
            RestoreForm(s);
        else
            s->ScanState = u == 'A' ? kStateFormTA : kStateForm;
        break;
    case kStateFormTA:
        s->ScanState = u == 'B' ? kStateFormTAB : kStateForm;
        break;
    case kStateFormTAB:
        s->ScanState = u == 'L' ? kStateFormTABL : kStateForm;
        break;
    case kStateFormTABL:
        if (u == 'E')
            RestoreForm(s);
        else
            s->ScanState = kStateForm;
        break;
    case kStateFormEndF:
        s->ScanState = u == 'O' ? kStateFormEndFO : kStateForm;
        break;
    case kStateFormEndFO:
        s->ScanState = u == 'R' ? kStateFormEndFOR : kStateForm;
        break;
    case kStateFormEndFOR:
        s->ScanState = u == 'M' ? kStateFormEnd : kStateForm;
        break;
    case kStateFormEnd:
        if (c == '>')
            EndDeletion(s);
        break;
    }
}

// State 200 for a comment: it ends at a '>' whose two bytes before it,
// counting the dashes of its "<!--", are "--". Passes a run at a time over
// the bytes up to each '>'. False when the input ended first.
static bool SkipComment(ElementScanner *s)
{
    unsigned char *tail = s->CommentTail;
    for (;;) {
        const unsigned char *p;
        size_t avail = StreamPeek(s->input, &p);
        if (avail == 0)
            return false;
        const unsigned char *gt = (const unsigned char *)memchr(p, '>', avail);
        size_t k = gt ? (size_t)(gt - p) : avail;
        if (k >= 2) {
            tail[0] = p[k - 2];
            tail[1] = p[k - 1];
        } else if (k == 1) {
            tail[0] = tail[1];
            tail[1] = p[0];
        }
        if (!gt) {
            StreamSkip(s->input, avail);
            continue;
        }
        StreamSkip(s->input, k + 1);
        if (tail[0] == '-' && tail[1] == '-') {
            EndDeletion(s);
            return true;
        }
        tail[0] = tail[1];
        tail[1] = '>';
    }
}

// State 200 for a tag: dropped up to its '>'; a BODY tag becomes "<BODY>".
static bool SkipDroppedTag(ElementScanner *s)
{
    if (!StreamSkipUntil(s->input, '>'))
        return false;
    StreamSkip(s->input, 1);
    if (s->ElementIndex == kElementBody) {
        // What the tag lost: its length less the six bytes written.
        if (s->tally)
            TallyRemoval(s->tally, kRemovedBodyAttributes, StreamTell(s->input) - s->DeletionStart - 6);
        StreamWriteText(s->output, "<BODY>");
        s->ScanState = kStateCopy;
    } else {
        EndDeletion(s);
    }
    return true;
}

// State 210. A byte that breaks a partial match is not tried as the start
// of the closing text again; every closing text starts with '<', so with
// nothing matched the bytes up to the next '<' are passed over at once.
static bool SkipToCloser(ElementScanner *s)
{
    const ElementEntry &e = ElementTable[s->ElementIndex];
    for (;;) {
        if (s->CloserPos == 0 && !StreamSkipUntil(s->input, '<'))
            return false;
        int c = StreamGet(s->input);
        if (c < 0)
            return false;
        if (UpperAscii((unsigned char)c) == (unsigned char)e.closer[s->CloserPos]) {
            if (++s->CloserPos == e.closerLength) {
                EndDeletion(s);
                return true;
            }
        } else {
            s->CloserPos = 0;
        }
    }
}

// States 400 and 410.
static void StepAfterDeletion(ElementScanner *s, unsigned char c)
{
    if (c == '<') {
        BeginTag(s);
    } else if (c == '\r' && s->ScanState == kStateAfterDeletion) {
        ExtendDeletion(s);
        s->ScanState = kStateAfterDeletionCr;
    } else if (c == ' ' || (c == '\n' && s->ScanState == kStateAfterDeletionCr)) {
        ExtendDeletion(s);
        s->ScanState = kStateCopy;
    } else {
        StreamPut(s->output, c);
        s->ScanState = kStateCopy;
    }
}

// State 0: copies up to the next '<' whose next byte could begin the name
// of an element of this pass, and begins that tag. A '<' whose next byte
// begins none (an end tag's '/', most letters) is copied with that byte as
// text, just as the name match would write them and go on, a run at a
// time. False at the end of the input.
static bool CopyToTag(ElementScanner *s)
{
    ByteStream *input = s->input;
    for (;;) {
        const unsigned char *p;
        size_t avail = StreamPeek(input, &p);
        if (avail == 0)
            return false;
        size_t i = 0;
        for (;;) {
            const unsigned char *lt = FindByte(p + i, avail - i, '<');
            size_t k = lt ? (size_t)(lt - p) : avail;
            if (!lt || k + 1 == avail || (s->ElementFlags & kNameSets.at[0][p[k + 1]])) {
                StreamWrite(s->output, p, k);
                StreamSkip(input, k);
                if (!lt)
                    break;
                // A candidate, or a '<' whose next byte is not in this run:
                // the name match reads it.
                StreamSkip(input, 1);
                BeginTag(s);
                return true;
            }
            i = k + 2;
        }
    }
}

// Moves the pass on by at least one byte; false at the end of the input.
static bool ElementStep(ElementScanner *s)
{
    ByteStream *input = s->input;
    int c;
    switch (s->ScanState) {
    case kStateCopy:
        // Plain text is the bulk of a page: copied a run at a time.
        return CopyToTag(s);
    case kStateTagName:
        c = StreamGet(input);
        if (c < 0)
            return false;
        // A name is at most 8 bytes, so the buffer cannot fill here.
        AppendTagByte(&s->tag, (unsigned char)c, s->output);
        MatchName(s, (unsigned char)c);
        return true;
    case kStateDropTag:
        return s->ElementIndex == kElementComment ? SkipComment(s) : SkipDroppedTag(s);
    case kStateSkipToCloser:
        return SkipToCloser(s);
    case kStateCollectTag:
        switch (CollectTag(&s->tag, input, s->output)) {
        case kTagInputEnded:
            return false;
        case kTagOverflowed:
            s->ScanState = kStateCopy;
            return true;
        case kTagComplete:
            DecideTag(s);
            return true;
        }
        return true;
    case kStateAfterDeletion:
    case kStateAfterDeletionCr:
        c = StreamGet(input);
        if (c < 0)
            return false;
        StepAfterDeletion(s, (unsigned char)c);
        return true;
    }
    // Inside a deleted OBJECT or FORM: nothing happens before a '<'.
    if ((s->ScanState == kStateObject || s->ScanState == kStateForm) &&
        !StreamSkipUntil(input, '<'))
        return false;
    c = StreamGet(input);
    if (c < 0)
        return false;
    if (s->ScanState < kStateForm)
        StepObject(s, (unsigned char)c);
    else
        StepForm(s, (unsigned char)c);
    return true;
}

// The input ended. A tag whose name or attributes were still being read is
// decided as if its '>' came next, so the text after the page's last '<' is
// never lost when the tag would stay; an element being deleted stays deleted.
static void FinishAtEnd(ElementScanner *s)
{
    TagBuffer *t = &s->tag;
    if (s->ScanState == kStateTagName) {
        // No name holds a '>', so it would end the match: the tag stays.
        WriteTag(s);
    } else if (s->ScanState == kStateCollectTag) {
        // A '>' that would fill the buffer leaves the tag unexamined.
        if (t->length == kTagBufferSize - 1) {
            WriteTag(s);
            return;
        }
        t->bytes[t->length++] = '>';
        bool keep = JudgeTag(s) == kKeepTag;
        t->length--;
        if (keep)
            WriteTag(s);
        else
            TallyRemoval(s->tally, DeletionKindOf(s), t->length);
    } else if (s->ScanState == kStateDropTag && s->ElementIndex == kElementBody) {
        TallyRemoval(s->tally, kRemovedBodyAttributes, StreamTell(s->input) - s->DeletionStart - 6);
        StreamWriteText(s->output, "<BODY>");
    } else if (s->ScanState != kStateCopy && s->ScanState != kStateAfterDeletion &&
               s->ScanState != kStateAfterDeletionCr && s->tally) {
        // An element deleted up to the end of the page.
        TallyRemoval(s->tally, DeletionKindOf(s), StreamTell(s->input) - s->DeletionStart);
    }
}

void ElementRemovalPass(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    ElementRemovalPass(sw, input, output, nullptr);
}

void ElementRemovalPass(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                        RemovalTally *tally)
{
    ElementScanner s;
    s.input = input;
    s.output = output;
    s.sw = *sw;
    s.ElementFlags = ElementFlagsOf(sw);
    s.ScanState = kStateCopy;
    s.ElementIndex = 0;
    s.Candidates = 0;
    s.CloserPos = 0;
    s.CommentTail[0] = s.CommentTail[1] = 0;
    s.ObjectClosing = false;
    s.ObjectDepth = 0;
    s.FormStart = 0;
    s.RestoreScanEnd = -1;
    s.tally = tally;
    s.DeletionStart = 0;
    ResetTagBuffer(&s.tag);

    while (ElementStep(&s)) {
    }
    if (!StreamReadFailed(input))
        FinishAtEnd(&s);
}
