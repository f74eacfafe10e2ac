// LED screen size: width and height typed on the number keyboard. Applying a
// new size sets the panel and both outputs to it, puts window 0 over the
// whole screen, switches the other windows off and sets the LED output up
// again.
#pragma once

#include <QString>

#include "ui/shell/pagepattern.h"

class Ui_ledset;

// The limits applied when the number keyboard returns: entered is the typed
// text for the width (or the height), w and h the two fields' texts, changed
// in place.
void ledset_limit(bool width, const QString& entered, QString* w, QString* h);

class ledset : public ZevPage
{
    Q_OBJECT
  public:
    explicit ledset(QWidget* parent);
    ~ledset() override;

    void para_init() override;
    void menulist_init() override;
    void language_changed() override;
    void syncUpdate() override;
    void on_Button_apply1_clicked();

  public slots:
    void show_numberkeyboard_ui(QString name);
    void confirmString(QString text);

  protected:
    void key_ok() override;
    QString row_style(int row, bool focused) const override;

  private:
    Ui_ledset* ui;
    QString entering_; // object name of the field on the number keyboard
};
