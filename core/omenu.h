// The OSD menu of a user mode, read from a JSON file.
#pragma once

#include <string>

struct OMENU_PARA {
    int type = 0;
    int status = 0;
    int x = 0, y = 0, w = 0, h = 0;
    int effect = 0, speed = 0, staytime = 0;
    std::string h_align = "left";
    std::string v_align = "top";
    int back_enable = 0;
    std::string back_color;
    int startx = 0, starty = 0, fontw = 0, fonth = 0, wordspace = 0, verticalspace = 0;
    std::string font_color;
    std::string texts;
};

struct OSD_LIST {
    int osdcount = 0;
    int oactcount = 0;
    std::string name;
    OMENU_PARA menu[3];
};

// Fills list from the file at path (a board path); a file that does not
// parse is deleted.
void get_json_omenu_para(const char* path, OSD_LIST* list);
