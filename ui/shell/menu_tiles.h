// The looks of the main-menu tiles: the focus is an orange border, a tile
// that cannot be opened now is grey.
#pragma once

constexpr const char* kTileNormal =
    "color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px ;border-radius:10px;padding:2px 4px";
constexpr const char* kTileFocused = "color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid "
                                     "rgb(255,171,84);border-radius:10px;padding:2px 4px";

// Menus with a tile that can be unavailable.
constexpr const char* kTileAvailNormal =
    "background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
constexpr const char* kTileGrey =
    "background-color: gray;border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
constexpr const char* kTileGreyFocused = "background-color: gray; border:2px solid "
                                         "rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
constexpr const char* kTileAvailFocused = "background-color: rgb(33, 36, 53); border:2px solid "
                                          "rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)";
