// Element removal pass: copies the page and leaves out the elements and tags
// that the run's flags choose (comments, STYLE, SCRIPT, FORM, BASE, IMG,
// FRAME, IFRAME, LINK, META, OBJECT, EMBED, APPLET, FRAMESET, NOFRAMES), and
// rewrites the BODY start tag without its attributes.
//
// States (ScanState):
//   0    copy: bytes go straight to the output until a '<' begins a tag.
//   100  tag name: the '<' and the name bytes so far are in TagBuffer and
//        are matched against the names of ElementTable still in
//        CandidateFlags.
//   200  drop a tag up to its '>' (IMG, EMBED, BODY), or a comment up to
//        "-->" (TagBuffer[0] and [1] hold the last two bytes read).
//   210  skip an element up to its closing text, e.g. "</SCRIPT>".
//   300  collect a tag in TagBuffer up to its '>', then decide on it.
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
// in order; a kept tag from TagBuffer when its '>' arrives (or when its name
// matches no element); "<BODY>" for a BODY tag when bad colours are avoided;
// the first 4096 bytes of an over-long tag (AppendTagByte), after which the
// rest of that tag is copied as text. A tag still unfinished when the input
// ends is decided as if its '>' followed, and written as it stands when it
// would be kept (see FinishAtEnd); an element still open is not written.
//
// Invariants: TagBuffer holds the current tag from its '<' while in 100 and
// 300, and "<FORM" as read while in 600..653. Name matching never reads past
// a name: a candidate whose name is complete is recognised at once. The
// input goes back only in the FORM restore, to the position just after the
// FORM's name, and never to a stretch that an earlier restore scan has
// already examined (see RestoreForm), so the pass reads each byte at most
// twice.
#include "clean/passes.h"
#include "clean/tagbuf.h"

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
static const ElementEntry ElementTable[kElementCount] = {
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

// Which elements this run recognises; an element whose flag is clear passes
// through untouched. Set by DeriveElementFlags at the start of each run.
static uint8_t ElementFlags[kElementCount];

// The state of one pass over one input.
struct ElementScanner {
    ByteStream *input;
    ByteStream *output;
    int32_t ScanState;
    int32_t ElementIndex;       // the element recognised at the current tag
    int32_t CloserPos;          // bytes of the closing text matched (210)
    bool ObjectClosing;         // a '/' followed the '<' (510)
    int32_t ObjectDepth;        // open OBJECT elements being deleted
    int64_t FormStart;          // input position just after "<FORM"
    // Input position just past the table tag at which the last FORM restore
    // scan stopped; -1 before the first restore.
    int64_t RestoreScanEnd;
    uint8_t CandidateFlags[kElementCount];
    int32_t CandidateCount;     // entries of CandidateFlags still set
};

static inline bool Flag(int bit)
{
    return RunFlags[bit] != 0;
}

void DeriveElementFlags()
{
    bool comments = Flag(0), scripts = Flag(1), styles = Flag(2), forms = Flag(3);
    bool internet = Flag(4), meta = Flag(5), pictures = Flag(6), modules = Flag(7);
    bool frames = Flag(9), badColors = Flag(10);
    ElementFlags[kElementComment] = comments && scripts;
    ElementFlags[kElementStyle] = styles;
    ElementFlags[kElementScript] = scripts || internet;
    ElementFlags[kElementForm] = forms;
    ElementFlags[kElementBase] = internet;
    ElementFlags[kElementImg] = pictures || internet;
    ElementFlags[kElementFrame] = internet || !frames;
    ElementFlags[kElementIframe] = internet || frames;
    ElementFlags[kElementLink] = styles || internet;
    ElementFlags[kElementMeta] = meta;
    ElementFlags[kElementObject] = modules || internet;
    ElementFlags[kElementEmbed] = modules || internet;
    ElementFlags[kElementApplet] = modules || internet;
    ElementFlags[kElementBody] = badColors;
    ElementFlags[kElementFrameset] = frames;
    ElementFlags[kElementNoframes] = frames;
}

static void WriteTagBuffer(ElementScanner *s)
{
    StreamWrite(s->output, TagBuffer, (size_t)TagLength);
}

// A '<' in states 0, 400 and 410.
static void BeginTag(ElementScanner *s)
{
    ResetTagBuffer();
    AppendTagByte('<', s->output);
    s->CandidateCount = 0;
    for (int i = 0; i < kElementCount; i++) {
        s->CandidateFlags[i] = ElementFlags[i];
        if (ElementFlags[i])
            s->CandidateCount++;
    }
    s->ScanState = kStateTagName;
}

static bool Contains(const char *token)
{
    return FindToken(TagBuffer, TagLength, token) >= 0;
}

// Reads the form again as text from just after its name: "<FORM" is
// written as it was read and copying resumes in state 0.
static void RestoreForm(ElementScanner *s)
{
    s->RestoreScanEnd = StreamTell(s->input);
    // An input that cannot go back counts as unreadable: the pass stops and
    // the run driver sees the read error.
    if (!StreamSeek(s->input, s->FormStart))
        s->input->readError = true;
    WriteTagBuffer(s);
    s->ScanState = kStateCopy;
}

// What a recognised element does first.
static void StartElement(ElementScanner *s, int index)
{
    s->ElementIndex = index;
    s->CloserPos = 0;
    switch (index) {
    case kElementComment:
        TagBuffer[0] = '-';
        TagBuffer[1] = '-';
        s->ScanState = kStateDropTag;
        break;
    case kElementStyle:
    case kElementFrameset:
    case kElementNoframes:
        s->ScanState = kStateSkipToCloser;
        break;
    case kElementScript:
        s->ScanState = Flag(1) ? kStateSkipToCloser : kStateCollectTag;
        break;
    case kElementForm:
        s->FormStart = StreamTell(s->input);
        // A restore scan that began before this "<FORM" passed it in state
        // 600, just as this form's own scan would start, so this scan would
        // stop at the same table tag: restore without scanning again.
        if (s->FormStart <= s->RestoreScanEnd) {
            WriteTagBuffer(s);
            s->ScanState = kStateCopy;
        } else {
            s->ScanState = kStateForm;
        }
        break;
    case kElementImg:
        s->ScanState = Flag(6) ? kStateDropTag : kStateCollectTag;
        break;
    case kElementIframe:
        s->ScanState = Flag(9) ? kStateSkipToCloser : kStateCollectTag;
        break;
    case kElementEmbed:
        s->ScanState = Flag(7) ? kStateDropTag : kStateCollectTag;
        break;
    case kElementApplet:
        s->ScanState = Flag(4) ? kStateCollectTag : kStateSkipToCloser;
        break;
    case kElementBody:
        s->ScanState = kStateDropTag;
        break;
    default:        // BASE, FRAME, LINK, META, OBJECT
        s->ScanState = kStateCollectTag;
        break;
    }
}

// State 100: the byte has been appended, so TagLength counts the '<' and
// the name bytes read so far.
static void MatchName(ElementScanner *s, unsigned char c)
{
    unsigned char upper = UpperAscii(c);
    int32_t at = TagLength - 2;
    for (int i = 0; i < kElementCount; i++) {
        if (!s->CandidateFlags[i])
            continue;
        const ElementEntry &e = ElementTable[i];
        if ((unsigned char)e.name[at] != upper) {
            s->CandidateFlags[i] = 0;
            s->CandidateCount--;
        } else if (at + 1 == e.nameLength) {
            StartElement(s, i);
            return;
        }
    }
    if (s->CandidateCount == 0) {
        // Not an element of this run; the byte that ended the match is
        // written with the tag and not looked at again.
        WriteTagBuffer(s);
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

// TagBuffer holds the whole tag, ending with its '>'.
static TagVerdict JudgeTag(const ElementScanner *s)
{
    switch (s->ElementIndex) {
    case kElementScript:
    case kElementIframe:
        return IsRemoteLink(true) ? kDropElement : kKeepTag;
    case kElementBase:
        return IsRemoteLink(false) ? kDropTag : kKeepTag;
    case kElementImg:
    case kElementFrame:
    case kElementEmbed:
        return IsRemoteLink(true) ? kDropTag : kKeepTag;
    case kElementLink:
        if (Contains("STYLESHEET") && (Flag(2) || (Flag(4) && IsRemoteLink(false))))
            return kDropTag;
        return kKeepTag;
    case kElementMeta:
        if (!Contains("CHARSET") && (Flag(2) || !Contains("CONTENT-STYLE")))
            return kDropTag;
        return kKeepTag;
    case kElementObject:
        return Flag(7) || (Flag(4) && Contains("HTTP:")) ? kDropObject : kKeepTag;
    case kElementApplet:
        return Flag(7) || (Flag(4) && Contains("HTTP:")) ? kDropElement : kKeepTag;
    }
    return kKeepTag;
}

// State 300 at the tag's '>': keep the tag, delete it, or delete the
// element that it starts.
static void DecideTag(ElementScanner *s)
{
    switch (JudgeTag(s)) {
    case kKeepTag:
        WriteTagBuffer(s);
        s->ScanState = kStateCopy;
        break;
    case kDropTag:
        s->ScanState = kStateAfterDeletion;
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

// States 500 to 516.
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
            s->ScanState = kStateAfterDeletion;
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
            s->ScanState = kStateAfterDeletion;
        break;
    }
}

// State 200: a comment ends at "-->", counting the dashes of its "<!--";
// any other dropped tag ends at its '>'.
static void StepDropTag(ElementScanner *s, unsigned char c)
{
    if (s->ElementIndex == kElementComment) {
        if (c == '>' && TagBuffer[0] == '-' && TagBuffer[1] == '-') {
            s->ScanState = kStateAfterDeletion;
        } else {
            TagBuffer[0] = TagBuffer[1];
            TagBuffer[1] = c;
        }
    } else if (c == '>') {
        if (s->ElementIndex == kElementBody) {
            StreamWriteText(s->output, "<BODY>");
            s->ScanState = kStateCopy;
        } else {
            s->ScanState = kStateAfterDeletion;
        }
    }
}

// State 210. A byte that breaks a partial match is not tried as the start
// of the closing text again.
static void StepCloser(ElementScanner *s, unsigned char c)
{
    const ElementEntry &e = ElementTable[s->ElementIndex];
    if (UpperAscii(c) == (unsigned char)e.closer[s->CloserPos]) {
        if (++s->CloserPos == e.closerLength)
            s->ScanState = kStateAfterDeletion;
    } else {
        s->CloserPos = 0;
    }
}

// States 400 and 410.
static void StepAfterDeletion(ElementScanner *s, unsigned char c)
{
    if (c == '<') {
        BeginTag(s);
    } else if (c == '\r' && s->ScanState == kStateAfterDeletion) {
        s->ScanState = kStateAfterDeletionCr;
    } else if (c == ' ' || (c == '\n' && s->ScanState == kStateAfterDeletionCr)) {
        s->ScanState = kStateCopy;
    } else {
        StreamPut(s->output, c);
        s->ScanState = kStateCopy;
    }
}

// The input ended. A tag whose name or attributes were still being read is
// decided as if its '>' came next, so the text after the page's last '<' is
// never lost when the tag would stay; an element being deleted stays deleted.
static void FinishAtEnd(ElementScanner *s)
{
    if (s->ScanState == kStateTagName) {
        // No name holds a '>', so it would end the match: the tag stays.
        WriteTagBuffer(s);
    } else if (s->ScanState == kStateCollectTag) {
        // A '>' that would fill the buffer leaves the tag unexamined.
        if (TagLength == kTagBufferSize - 1) {
            WriteTagBuffer(s);
            return;
        }
        TagBuffer[TagLength++] = '>';
        bool keep = JudgeTag(s) == kKeepTag;
        TagLength--;
        if (keep)
            WriteTagBuffer(s);
    } else if (s->ScanState == kStateDropTag && s->ElementIndex == kElementBody) {
        StreamWriteText(s->output, "<BODY>");
    }
}

void ElementRemovalPass(ByteStream *input, ByteStream *output)
{
    ElementScanner s = {};
    s.input = input;
    s.output = output;
    s.ScanState = kStateCopy;
    s.RestoreScanEnd = -1;

    int c;
    while ((c = StreamGet(input)) >= 0) {
        switch (s.ScanState) {
        case kStateCopy:
            // Plain text is the bulk of a page: copy it without leaving here.
            while (c != '<') {
                StreamPut(output, (unsigned char)c);
                c = StreamGet(input);
                if (c < 0)
                    return;     // nothing held back
            }
            BeginTag(&s);
            break;
        case kStateTagName:
            // A name is at most 8 bytes, so the buffer cannot fill here.
            AppendTagByte((unsigned char)c, output);
            MatchName(&s, (unsigned char)c);
            break;
        case kStateDropTag:
            StepDropTag(&s, (unsigned char)c);
            break;
        case kStateSkipToCloser:
            StepCloser(&s, (unsigned char)c);
            break;
        case kStateCollectTag:
            if (AppendTagByte((unsigned char)c, output))
                s.ScanState = kStateCopy;
            else if (c == '>')
                DecideTag(&s);
            break;
        case kStateAfterDeletion:
        case kStateAfterDeletionCr:
            StepAfterDeletion(&s, (unsigned char)c);
            break;
        default:
            if (s.ScanState < kStateForm) {
                StepObject(&s, (unsigned char)c);
                break;
            }
            StepForm(&s, (unsigned char)c);
            if (StreamReadFailed(input))
                return;
            break;
        }
    }
    FinishAtEnd(&s);
}
