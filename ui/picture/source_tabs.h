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
