// The five languages differ much in text length. A widget keeps its font
// where its text fits; otherwise it takes the largest smaller pixel size at
// which the text fits (not below 6 px), so every text shows whole.
#pragma once

#include <QString>

class QAbstractButton;
class QComboBox;
class QLabel;
class QWidget;

// Fits text into width x height of w's font (height 0: width only).
void fit_text(QWidget* w, const QString& text, int width, int height = 0);
// A label's own text into its own size, wrapped where the label wraps.
void fit_label(QLabel* label);
// Sets a label's text and fits it.
void set_fitted(QLabel* label, const QString& text);
// Sets a menu tile's text, one or more lines split at "\n", and fits it
// into the tile less the border and padding of the tile style.
void set_fitted(QAbstractButton* button, const QString& text);
// Every entry of a combo box, so the one shown after a step fits as well.
void fit_combo(QComboBox* combo);
// Pixel size of w's font before any fitting.
int base_pixel_size(QWidget* w);
