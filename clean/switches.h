// The switches of a clean: what it removes and how it finds the main part,
// as named fields. Where they come from (a saved options word, a command
// line, a library caller's record) is the caller's business.
#pragma once

struct CleanSwitches {
    bool comments;          // delete comments (with scripts only)
    bool scripts;           // delete SCRIPT elements
    bool styles;            // delete STYLE, stylesheet links, style attributes
    bool forms;             // delete FORM elements outside tables
    bool internet;          // delete whatever loads from the Internet
    bool meta;              // delete META tags
    bool pictures;          // delete IMG tags
    bool modules;           // delete OBJECT, EMBED, APPLET
    bool extract;           // cut the page to its main part
    bool frames;            // delete frames
    bool badColors;         // rewrite BODY without its attributes
    bool cutTables;         // remove the tables inside the main part
    bool extractFirst;      // extract before deleting elements
    bool anyLayout;         // find the main part in any layout, not only tables
};
