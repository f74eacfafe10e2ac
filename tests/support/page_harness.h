// Every front-panel page in the five languages, in the states worth looking
// at, on a simulated board with factory settings: the page, each pop-up
// (number keypad, tips) and the main window with its grid and menus. The
// caller installs the board and makes the QApplication first.
#pragma once

#include <functional>

class QString;
class QWidget;

// Short names of the five languages, by language number.
extern const char* const kPageLanguages[5];

// Called with the settled page, the scene's name ("imagelayout_crop") and
// the language.
using PageVisit = std::function<void(QWidget* page, const QString& scene, int lang)>;

// Builds every scene in each language and hands it to visit; returns the
// number of scenes that could not be set up.
int walk_pages(const PageVisit& visit);
