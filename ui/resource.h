/* Numbers of the program's resources, controls, commands and timer.
   Read by windres as well as by the C++ compiler: #define lines only. */
#ifndef WEBTRIM_RESOURCE_H
#define WEBTRIM_RESOURCE_H

/* Dialog templates: the main window and its five option pages. */
#define IDD_MAIN_WINDOW      101
#define IDD_PAGE_MAIN        104
#define IDD_PAGE_ADVANCED    105
#define IDD_PAGE_TARGET      107
#define IDD_PAGE_COLOR       108
#define IDD_PAGE_ABOUT       109

/* The report of a run: its icon (where a message box has its own), its
   sentence (a message box's text id), the list of pages, Copy. */
#define IDD_REPORT           120
#define IDC_REPORT_ICON      0x440
#define IDC_REPORT_TEXT      0xFFFF
#define IDC_REPORT_LIST      1040
#define IDC_REPORT_COPY      1041

/* Icons, 16 colours: the program, the two targets, the two image buttons. */
#define IDI_PROGRAM          103
#define IDI_RECYCLE_BIN      110
#define IDI_FOLDER           111
#define IDI_OPEN             116
#define IDI_HELP             117

/* Commands that other parts of the program send to the main window. */
#define IDC_REPAINT          102
#define IDC_FLASH            104

/* The flash timer of the drop picture; the timer after which a run still
   going shows the busy cursor. */
#define IDT_FLASH            101
#define IDT_BUSY             102

/* Controls of the main window. "Exit" is the dialog's cancel id, so that
   Escape ends the dialog as well. */
#define IDC_EXIT             2
#define IDC_OPEN             1003
#define IDC_DEFAULT          1004
#define IDC_HELP_BUTTON      1005
#define IDC_SAVE             1007
#define IDC_TAB_PLACEHOLDER  1033
#define IDC_RESULT           1034
#define IDC_CANCEL_RUN       1035

/* Main page. */
#define IDC_EXTRACT          1008
#define IDC_CUT_TABLES       1009
#define IDC_PICTURES         1010
#define IDC_BAD_COLORS       1011
#define IDC_ANY_LAYOUT       1028

/* Advanced page. */
#define IDC_STYLES           1012
#define IDC_SCRIPTS          1013
#define IDC_MODULES          1014
#define IDC_FORMS            1015
#define IDC_COMMENTS         1016
#define IDC_FRAMES           1017
#define IDC_METATAGS         1018
#define IDC_INTERNET         1019
#define IDC_EXTRACT_FIRST    1020

/* Target page. "..." shares its number with the main window's Open button,
   so both get the same context help. */
#define IDC_TARGET_RECYCLE   1021
#define IDC_TARGET_FOLDER    1022
#define IDC_BROWSE           1003
#define IDC_TARGET_TEXT      1024
#define IDC_KEEP_TIME        1029
#define IDC_COMPANION_FILES  1030

/* Color page. */
#define IDC_SCHEME_RED       1025
#define IDC_SCHEME_GREEN     1026
#define IDC_SCHEME_BLUE      1027

/* Controls that nothing addresses. */
#define IDC_NONE             (-1)

#endif
