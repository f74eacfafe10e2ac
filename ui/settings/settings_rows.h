// Small pieces the settings pages share.
#pragma once

#include <QString>

#include "ui/shell/pagepattern.h"

// Writes the low byte of a 16-bit image field under the apply mutex and asks
// for the apply; the high byte stays as stored.
void write_low_byte(int offset, int value);

// The combo-box style of the settings pages with the given border colour
// (white normal, orange focused, red editing), on the field background or on
// the page's, with white text or the given colour.
QString combo_style(const char* border, bool background = true, const char* text = "rgb(255,255,255)");

constexpr const char* kBorderNormal = "rgb(255,255,255)";
constexpr const char* kBorderFocused = "rgb(255,171,84)";
constexpr const char* kBorderEditing = "rgb(255,0,0)";

class QLineEdit;
class QWidget;

// Opens the shared number keyboard for a field of a page with its caption and
// runs it modally; its result reaches the page's confirmString.
void open_number_keyboard(QLineEdit* field, const QString& caption);
// True when the number keyboard's result is meant for a field of this page:
// every open page hears the keyboard, only the opener takes the result.
bool number_for(const QWidget* page);

// Pages whose value rows are numbers stepped live (picture quality, colour
// temperature), with the edit operations under their own names.
class SteppedValuePage : public ZevPage
{
  public:
    using ZevPage::ZevPage;
    // Starts editing the focused row: its number (0 when it is none) becomes
    // the edit value and the saved value.
    void get_sel_value();
    // One edit operation on the focused row: 0 one up, 1 one down, 2 accept,
    // 3 cancel; any other code does nothing.
    void updownset_sel_value(char op);
};
