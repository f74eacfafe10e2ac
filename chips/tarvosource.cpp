#include "chips/tarvosource.h"

tarvosource* tarvosource::p_tarvo_source = nullptr;
u8 edid_ram_table[1536];
u8 edid_ram_table_from[6];
