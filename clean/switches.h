// The switches of a clean: what it removes and how it finds the main part,
// as named fields. Where they come from (a saved options word, a command
// line, a library caller's record) is the caller's business.
//
// One table holds every switch, one row each, in the order the names are
// listed (--settings, the library's option names). A row is either
//   ELEMENT(Name, bit, field, name, default, libField): a kind of element
//     that --remove and --keep take by name; or
//   SWITCH(Name, bit, field, name, onWord, offWord, default, libField): a
//     switch with a long option that sets it and one that clears it.
// Name gives the word's bit kOptName (app/options.h); bit is its place in
// the options word the settings store keeps; field is CleanSwitches's;
// default is 1 for the switches a new user starts with; libField is the
// library record's (include/webtrim.h). A new switch is one row here, plus
// its user interface.
#pragma once

#define WEBTRIM_SWITCHES(ELEMENT, SWITCH)                                                    \
    ELEMENT(Comments, 0, comments, "comments", 1, comments)  /* comments (with scripts only) */ \
    ELEMENT(Scripts, 1, scripts, "scripts", 1, scripts)      /* SCRIPT elements */            \
    ELEMENT(Styles, 2, styles, "styles", 1, styles)          /* STYLE, stylesheet links, style attributes */ \
    ELEMENT(Forms, 3, forms, "forms", 1, forms)              /* FORM elements outside tables */ \
    ELEMENT(Internet, 4, internet, "internet", 1, internet)  /* whatever loads from the Internet */ \
    ELEMENT(Meta, 5, meta, "meta", 1, meta)                  /* META tags */                  \
    ELEMENT(Pictures, 6, pictures, "pictures", 0, pictures)  /* IMG tags */                   \
    ELEMENT(Modules, 7, modules, "modules", 1, modules)      /* OBJECT, EMBED, APPLET */      \
    ELEMENT(Frames, 9, frames, "frames", 1, frames)          /* frames */                     \
    /* the files of the page's companion folder that nothing reaches any more */          \
    ELEMENT(CompanionFiles, 14, companionFiles, "companion-files", 1, companion_files)      \
    /* cut the page to its main part */                                                      \
    SWITCH(Extract, 8, extract, "extract", "extract", "no-extract", 1, extract)              \
    /* remove the tables inside the main part */                                             \
    SWITCH(CutTables, 11, cutTables, "cut-tables", "cut-tables", "no-cut-tables", 0, cut_tables) \
    /* extract before deleting elements */                                                   \
    SWITCH(ExtractFirst, 12, extractFirst, "extract-first", "extract-first", "extract-last", 1, \
           extract_first)                                                                    \
    /* find the main part in any layout, not only tables */                                  \
    SWITCH(AnyLayout, 13, anyLayout, "any-layout", "any-layout", "table-layout", 0, any_layout) \
    /* rewrite BODY without its attributes */                                                \
    SWITCH(BadColors, 10, badColors, "avoid-bad-colors", "avoid-bad-colors", "no-avoid-bad-colors", \
           0, avoid_bad_colors)

// For a table of one kind of row: the other kind passes this.
#define WEBTRIM_SWITCH_NONE(...)

struct CleanSwitches {
#define WEBTRIM_SWITCH_FIELD(Name, bit, field, ...) bool field;
    WEBTRIM_SWITCHES(WEBTRIM_SWITCH_FIELD, WEBTRIM_SWITCH_FIELD)
#undef WEBTRIM_SWITCH_FIELD
};
