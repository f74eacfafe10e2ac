// Wired network: address, mask and gateway of eth0, four octets each, typed
// on the number keyboard. Apply stores them and sets the network up again.
#pragma once

#include <QString>

#include "ui/shell/pagepattern.h"

class Ui_linkwlan;

// A dotted quad as typed into four octet fields: each part 1 to 3 digits of
// 0 to 255, written back as plain decimals. False (out untouched) otherwise;
// a mask must also be contiguous.
bool linkwlan_octets(const QStringList& parts, bool mask, QString* out);

class linkwlan : public ZevPage
{
    Q_OBJECT
  public:
    explicit linkwlan(QWidget* parent);
    ~linkwlan() override;

    void menulist_init() override;
    void language_changed() override;
    void on_Button_net_apply_clicked();

  public slots:
    void show_numberkeyboard_ui(QString name);
    void confirmString(QString text);

  protected:
    void key_ok() override;
    QString row_style(int row, bool focused) const override;

  private:
    QStringList row(int first) const;

    Ui_linkwlan* ui;
    QString entering_;
};
