// Fitting a label's one-line text into the label's width.
#pragma once

class QLabel;

// Gives the label the font of points, or a smaller one (down to 5 points)
// when its text is wider than the label, so the text shows whole.
void fit_label_text(QLabel* label, int points);
