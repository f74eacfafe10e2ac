// A list selector: a combo box between "<" and ">" labels, with an orange
// (focused) and a blue (editing) look. The owning page fills and drives it.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;

class zevcontrol : public QWidget
{
    Q_OBJECT
  public:
    // Rectangles in the widget's own coordinates.
    zevcontrol(QRect combo, QRect left, QRect right, QWidget* parent);
    void set_box_default();
    void set_box_modify();
    // An index outside the list clears the selection.
    void set_boxindexsel(char index);
    QComboBox* combo() const { return combo_; }
    QLabel* left_label() const { return left_; }
    QLabel* right_label() const { return right_; }

  private:
    QString label_focused_;
    QString label_modify_;
    QString combo_focused_;
    QString combo_modify_;
    QFont font_;
    QComboBox* combo_;
    QLabel* left_;
    QLabel* right_;
};
