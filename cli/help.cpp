// The Linux program's --help and --version texts.
#include <stdio.h>
#include "cli/help.h"

#ifndef WEBTRIM_VERSION
#define WEBTRIM_VERSION "unknown"
#endif

static const char kHelp[] = R"(Usage: webtrim [OPTION]... PAGE...
Clean saved web pages (.htm, .html, .plg; single-file .mht, .mhtml) in
place: cut each PAGE down to its main part, remove the kinds of element
chosen below, and write the cleaned page at the page's own path. The untouched original goes to the trash, or
into a folder chosen with --move-to. A PAGE of - is read from standard input
and cleaned to standard output.

Pages:
  -r, --recursive         clean every .htm, .html, .mht, .mhtml and .plg
                            file below each folder named; the list is made before any page
                            is cleaned, symbolic links to folders found there
                            are not followed, and the folder that originals
                            go to and every trash are skipped
      --files-from=FILE   also clean the pages named in FILE, one a line
                            (- reads the names from standard input)
  -0, --null              the names in --files-from end with a NUL byte
                            (as find -print0 writes them)
  -j, --jobs=N            clean up to N pages at once (default: the number
                            of processors; 0 means that number too)
  -o, --output=FILE       write the cleaned page to FILE (- for standard
                            output) instead of in place: the original stays
                            as it is; one PAGE only
  -n, --dry-run           change nothing and create nothing; say what would
                            be done (with -v, what would be removed)
  -q, --quiet             report errors only
  -v, --verbose           for each page: the bytes before and after, what
                            was removed by kind and by each stage, the main
                            part found, and where the original went
      --json              report as data: one JSON object per page and line,
                            then a summary object (see webtrim(1))

Web archives (see WEB ARCHIVES in webtrim(1)):
      --warc              the names are web archives (WARC, gzipped or not),
                            cleaned into new archives: -o OUT for one, -o
                            FOLDER for several (one output each); HTML pages
                            become conversion records, the rest is copied,
                            bad records are skipped and counted
      --warc-keep-originals  keep each cleaned page's original record too
      --warc-response     write a cleaned response as a response record (its
                            HTTP head kept, less Transfer-Encoding,
                            Content-Encoding, with a new Content-Length),
                            not as a conversion record
      --record-limit=MB   hold records up to MB megabytes (default 32); larger
                            ones are copied through
      --warc-level=N      the gzip level of a .gz output, 0 (stored) to 9
                            (smallest); default 6

What to remove (for this call; --save keeps it for later calls):
      --remove=LIST       remove these kinds of element (names below, comma-
                            separated; all names every kind)
      --keep=LIST         keep these kinds of element
      --extract           cut the page down to its main part
      --no-extract        keep the whole page
      --cut-tables        remove the tables inside the main part
      --no-cut-tables     keep them
      --extract-first     look for the main part in the page as saved
      --extract-last      look for it after the removals
      --any-layout        find the main part in any layout (DIV, ARTICLE,
                            SECTION and tables alike)
      --table-layout      find it among table cells only
      --avoid-bad-colors  drop the page's own colours (the attributes of
                            its BODY tag)
      --no-avoid-bad-colors  keep them
      --defaults          all of the above take their default states
Where originals go:
      --trash             to the trash
      --move-to=FOLDER    into FOLDER (at most 259 bytes), under the first
                            free name of NAME, ~1_NAME, ... ~998_NAME; when
                            FOLDER is missing or the move fails, to the trash
The cleaned page's times:
  -p, --preserve-time     keep the page's modification and access times
      --no-preserve-time  the time of the clean (the default)
Settings:
      --save              keep this call's choices as the saved settings
      --settings          print the settings file's path and the state of
                            every option (saved settings and this call's)
  -h, --help              print this help and exit
      --version           print the version and exit
Options are taken in the order given; a later one overrides an earlier one.
--save and --settings work without a PAGE.

Kinds of element for --remove and --keep (default state in brackets):
  comments  [on]   <!-- comments --> (only when scripts is on as well)
  scripts   [on]   SCRIPT elements, through </SCRIPT>; in every tag, event
                   handlers (onload=, onclick=...), javascript: and vbscript:
                   values, IFRAME srcdoc, and data: pages (HTML, XML, SVG)
                   in the src or data of IFRAME, FRAME, OBJECT and EMBED
  styles    [on]   STYLE elements, LINK tags to style sheets, style="..."
                   attributes
  forms     [on]   FORM elements with their content, except a form that
                   holds a table tag (TD, TR, TABLE) before </FORM>: it stays
  internet  [on]   what the page would load from the network (an http:,
                   https:, ftp:, ws: or wss: address, or //host): SCRIPT,
                   IFRAME elements and IMG, EMBED, FRAME, BASE tags whose
                   src (href for BASE) is one, LINK tags to such style
                   sheets, OBJECT and APPLET elements naming one, META
                   refreshes to one; in every tag, the attributes that
                   would load from one (src, srcset, poster, data,
                   background, href of LINK and SVG images, xlink:href,
                   ping...) and its url(...) references to one, with the
                   first url(...) whatever its address; in STYLE elements,
                   @import rules and url(...) references to one
  meta      [on]   META tags, except those naming a charset
  pictures  [off]  every IMG tag
  modules   [on]   OBJECT elements (nested ones with them), APPLET elements
                   and EMBED tags
  frames    [on]   FRAMESET and NOFRAMES elements, through their first
                   closing tag, and IFRAME elements
  companion-files [on]  the files of the page's companion folder (NAME_files,
                   NAME.files, NAME_archivos, NAME-Dateien... beside NAME.htm)
                   that the cleaned page, the other pages of its folder and
                   the style sheets and pictures they reach no longer name:
                   they go with the original, each file on its own (of a
                   single-file page, the parts no longer named are left out)

How the switches act together, as webtrim applies them:
  - Three stages run on every page: the main part (--extract), the element
    removals, then the attribute clean-up. --extract-first (the default)
    runs the main part first, on the page as saved; --extract-last runs it
    on the page after the removals. Without --extract the order makes no
    difference.
  - The main part is the table cell that holds the most words, or the table
    that holds several such cells (with --any-layout, the element of any
    kind whose text reads most like an article), kept with the page's head;
    a page where no part stands out is kept whole. --cut-tables and
    --any-layout act only with --extract.
  - comments take effect only together with scripts.
  - scripts removes every SCRIPT; with scripts kept, internet still removes
    those loaded from the network. pictures removes every IMG; with pictures
    kept, internet still removes IMG tags loading from the network. modules
    removes every OBJECT, APPLET and EMBED; with modules kept, internet
    removes those that load from the network. frames removes every IFRAME;
    with frames kept, internet removes IFRAMEs loading from the network.
  - A FRAME tag loading from the network is removed when internet is on or
    frames is off (FRAME tags are looked at only then).
  - With meta on, a META tag naming Content-Style stays while styles is off;
    with internet on, a META refresh to the network goes even with meta off.
  - styles, internet and scripts are also the switches of the attribute
    stage: with all three off it leaves every tag as it is.
  - Addresses are read as a browser reads them: in any case, after blanks,
    with tabs and line breaks inside ignored and character references
    (&#104;, &colon;...) decoded. A tag of any length is cleaned.
  - --avoid-bad-colors turns the BODY start tag into a bare <BODY>.

Exit status: 0 when every page was cleaned, 1 when any page was not (its
message says why), 2 for a wrong use of the options.
Settings: ${XDG_CONFIG_HOME:-~/.config}/webtrim/webtrim.ini (see webtrim(1)).
)";

void PrintHelp()
{
    fputs(kHelp, stdout);
}

void PrintVersion()
{
    printf("webtrim %s\n", WEBTRIM_VERSION);
}
