// The six source tabs the source-selection page and the crop editor share,
// in list order (HDMI1 to HDMI4, DVI, EXT).
#pragma once

#include "core/global.h"

class QLabel;
struct CROP_PARA;

// Both pages read the image under its locks: the PC links write the crop
// table, the source-check thread the timings.

// A source's timing; all 0 for none or no signal.
struct SourceTiming {
    u16 w = 0, h = 0, rate = 0;
    bool signal() const { return w && h && rate; }
};
SourceTiming source_timing(int source);
// Crops of a source in the table.
int crop_count(int source);
// Crop n (1..) of a source: fills crop, returns its table index, 40 for none.
int crop_entry(int source, int n, CROP_PARA* crop);
// The crop table's word of entry index.
u16 crop_word(int index);
// Rebuilds the map of crop numbers in use from the table.
void crop_source_init();
// The crop table differs from the applied one.
bool crop_table_changed();

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
