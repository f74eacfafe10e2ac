// The panel's one look on every platform: one widget style and the
// CJK-capable font the project installs, in pixel sizes. Left to the
// platform, the style differs (the board's framebuffer and VNC give
// "Windows", a desktop and the offscreen renderer "Fusion"), and a point
// size is drawn at the dots per inch the platform reports (the board's
// framebuffer 100, a desktop 96, the VNC screen 30); so set, the pages draw
// the same on the board, in a window, over VNC and in the rendered pages.
#pragma once

#include <QFont>
#include <QString>

class QSize;

extern const char* const kPanelFontFamily;

// Pixels of a point size as the board's framebuffer draws it (100 dpi).
int panel_pixels(qreal points);
// The panel font at a pixel size.
QFont panel_font(int pixels, bool bold = false);
// Sets the style (the board's "Windows") and makes the panel font the
// application font; from then on every widget's font becomes the panel font
// at the pixels of its point size when the widget is polished (forms and
// pages give point sizes). Needs the QApplication; safe to call often.
// A font a page sets on a widget already shown is taken as given: use
// panel_font there.
void panel_look_init();

// The text as a person reads it: a soft hyphen only marks where a word may
// break and is not drawn.
QString shown_text(const QString& text);
// The largest pixel size from largest down to smallest at which the text,
// in the panel font, fits the box (wrapped at word boundaries when wrap);
// smallest when none does.
int fitting_pixels(const QString& text, const QSize& box, int largest, int smallest, bool wrap);
