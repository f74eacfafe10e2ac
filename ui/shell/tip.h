// The one timed pop-up (g_tip): a check mark or a USB message in the middle
// of the panel, closed by the GUI tick after 300 ticks.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class Ui_TIP;

class TIP : public QDialog
{
    Q_OBJECT
  public:
    explicit TIP(QWidget* parent = nullptr);
    ~TIP() override;

    // Builds the content of code 1 (done), 3, 4 or 5 (USB messages) and
    // shows it; returns when the tip has closed. Any other code only
    // removes the old content. While a tip is shown a new code replaces the
    // content and returns at once: the modal loop is never entered twice.
    // A different message is shown for its full time from then on.
    void tip_create(int code);
    // The message that a change was applied but cannot be stored, shown as
    // the USB messages are, in place of the done tip.
    void tip_not_saved();
    void tip_show();
    // One tick of the time-out.
    void tip_outtime_deal();
    // Only the time-out closes the tip, never Escape.
    void reject() override {}

    QFrame* content() const { return frame_; }
    int ticks() const { return ticks_; }

  private:
    // Shows a message of text, under its own code.
    void show_message(int code, const QString& text);
    // The old content goes; a new grey frame at geometry holds the label
    // returned.
    QLabel* new_content(int code, const QRect& geometry);
    Ui_TIP* ui;
    QFrame* frame_ = nullptr;
    int ticks_ = 0;
    int code_ = 0;
};
