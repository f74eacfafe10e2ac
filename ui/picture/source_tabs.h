// The six source tabs the source-selection page and the crop editor share,
// in list order (HDMI1 to HDMI4, DVI, EXT).
#pragma once

#include "core/global.h"

class QLabel;

// Entries of each tab: the source itself and its crops.
void count_source_entries(u8 counts[6]);
// Each tab's text: the source's alias (elided to the tab) or name, in the
// source's colour, with its entry count.
void set_source_tab_names(QLabel* const tabs[6], const u8 counts[6]);

// Takes the six tab labels of a page's form (sourcelistseq0name ... and
// sourcelistseq0pixmap ...), which both pages name alike.
template <class Form> void take_source_tabs(Form* ui, QLabel* names[6], QLabel* icons[6])
{
    QLabel* const n[6] = {ui->sourcelistseq0name, ui->sourcelistseq1name, ui->sourcelistseq2name,
                          ui->sourcelistseq3name, ui->sourcelistseq4name, ui->sourcelistseq5name};
    QLabel* const i[6] = {ui->sourcelistseq0pixmap, ui->sourcelistseq1pixmap, ui->sourcelistseq2pixmap,
                          ui->sourcelistseq3pixmap, ui->sourcelistseq4pixmap, ui->sourcelistseq5pixmap};
    for (int t = 0; t < 6; ++t) {
        names[t] = n[t];
        icons[t] = i[t];
    }
}
