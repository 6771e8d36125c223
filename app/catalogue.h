// Message catalogue: every text the program shows or writes for a person, in
// five languages.
//
// Each row is a global constant of its own name: five ISO-8859-1 texts indexed
// by the language index (app/state.h: 0 German, 1 English, 2 French, 3 Spanish,
// 4 Italian). A user takes a text as `row[root.language]` at the moment it
// builds a window, dialog or message; there is no lookup function. Blanks and
// line breaks are part of the texts. `tlanguages` is the list of the five
// language names, each in its own language.
//
// Bytes above 127 are written as octal escapes in the source, so the program
// writes ISO-8859-1 without converting anything.
//
//   language_from_name  index of the language name a text begins with, or 0
//   catalogue_rows      every row with its name, for checks over the whole set
#pragma once

#include <cstddef>

typedef const char* const MessageText[5];

struct CatalogueRow {
    const char* name;
    const MessageText* row;
};
extern const CatalogueRow catalogue_rows[];
extern const size_t catalogue_row_count;

// The language index whose name (entry of `tlanguages`) `name` begins with,
// compared byte by byte with letter case; 0 (German) when none matches.
int language_from_name(const char* name);

extern MessageText tlanguages;
extern MessageText t_main_title;  // format with one %s: the version
extern MessageText tdatmen, tdatmen1, tdatmen2;
extern MessageText tkxmen, tkxmen1, tkxmen2, tkxmen3, tkxmen4;
extern MessageText thelpmen, thelpmen1;
extern MessageText t_nodata;
extern MessageText tnopreffile1, tnopreffile2, terrorline, tnocolumn, twronglang, twrongspeed;
extern MessageText tprefsaveerr, tpreftoolarge, twrongkeyword, twrongformat;
extern MessageText tpcconfig, tpcconfiglang, tpcconfigdevice, tpcconfigspeed, tpcconfigsep;
extern MessageText tOK, tCancel, tYes, tNo;
extern MessageText tkxconfig, tkxconfigver, tkxconfigmem, tkxconfigbatt, tkxconfigmenulang;
extern MessageText tkxconfigtextlang, tkxconfigtargetlang, tkxconfigmode, tkxconfigmodescan;
extern MessageText tkxconfigmodetrans;
extern MessageText tkxtransexpl, tBytes, tScans;
extern MessageText tce_connect1, tce_connect2, tce_connect3;
extern MessageText tce_serial1, tce_serial2, tce_serial3;
extern MessageText tce_transfer1, tce_transfer2, tce_transfer3;
extern MessageText tnomemory, tbreak;
extern MessageText tDeleteTextPC_title, tDeleteTextPC_text;
extern MessageText tappend1, tappend2, tappend_yes, tappend_no;
extern MessageText tfs_title, tfs_create_dir, tfs_del_file, tfs_ren_file, tfs_dirs, tfs_files;
extern MessageText tfs_format, tfs_ASCII, tfs_RTF, tfs_LaTeX, tfs_error1, tfs_error2;
extern MessageText tfs_exists_title, tfs_exists_s1;
extern MessageText texit_title, texit_s1, texit_s2;
extern MessageText tclear_title, tclear_s1, tclear_info;
extern MessageText tcr_title, tcr_s1, tcr_s2, tcr_s3;  // tcr_s1: format with one %s
extern MessageText toption, tusage1, tusage2, tusage3, tusage4, tusage5, tusage6;
extern MessageText tover_title, tover_s1, tover_s2;
// Serial device discovery (-list) and the unattended sync (-batch -erase).
extern MessageText tusage7, tusage8, terase_nobatch, terase_nofile;
