// Every text a page shows reaches its widget through here. The five
// languages differ much in text length, and the 320 x 240 panel is small:
// - a text keeps its widget's own size where it fits; otherwise it takes the
//   largest smaller pixel size at which it fits, never below kMinTextPixels;
// - a text that does not fit at that size is broken onto two lines, at a
//   blank, between two ideographs, or last inside a word with a hyphen;
// - only a text that fits neither way is elided, its whole text kept as the
//   widget's tool tip;
// - like widgets (a row of tiles, the captions of a grid, the names of a
//   list of rows) are fitted together and share one size: the largest at
//   which every one of them fits.
// Soft hyphens never reach a widget (shown_text).
#pragma once

#include <initializer_list>
#include <vector>

#include <QFont>
#include <QRect>
#include <QString>

class QComboBox;
class QWidget;

// The smallest pixel size the panel draws text in.
constexpr int kMinTextPixels = 9;

// A widget (label, button, combo box or line edit) and the text it shows;
// for combo boxes and line edits the text is their current one.
struct FitItem {
    QWidget* widget;
    QString text;
};

// Sets and fits the text of one widget.
void set_fitted(QWidget* w, const QString& text);
// Sets the texts of like widgets and gives them one size.
void set_fitted(const std::vector<FitItem>& items);
// Fits the texts the widgets already show, as one group of like widgets.
void fit_texts(std::initializer_list<QWidget*> widgets);
void fit_texts(const std::vector<QWidget*>& widgets);
// Combo boxes fitted to the item each shows, as one group, and again each
// time one of them shows another item.
void fit_combos(std::initializer_list<QComboBox*> combos);
// A caption and the field it names (null for a caption of the whole row).
struct RowPair {
    QWidget* caption;
    QWidget* field;
};
// What a row does that does not fit on one line at the smallest size.
enum class RowFallback {
    None,
    // Each field's caption stands centred above its field, in the room of
    // its own height that the page keeps free there.
    CaptionsAbove,
};
// Lays a row of captions and fields out from left to right between the x
// positions left and right, each widget keeping its y and height: the
// captions take the width their texts need, all in one size, the largest
// at which the whole row fits; the room left over goes between the pairs.
void flow_row(const std::vector<RowPair>& row, int left, int right, RowFallback fallback = RowFallback::None);
// The whole text a widget was given; what it shows may be that text on two
// lines or elided.
QString fitted_text(QWidget* w);
// Pixel size of w's font before any fitting.
int base_pixel_size(QWidget* w);
// Where the widget draws its text, in its own coordinates: a label's
// contents, a button's less border, padding and icon, a combo box's edit
// field, a line edit's text margins.
QRect text_room(QWidget* w);
// Where the letters of a plain text land when w draws it in font: the
// width of its lines, the height from the top of its tallest letter to the
// bottom of its deepest.
QRect drawn_rect(QWidget* w, const QFont& font, const QString& text);
