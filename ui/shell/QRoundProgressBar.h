// The round progress bar drawn over a maintenance page while the FPGA worker
// runs a job with progress: a ring filling clockwise from twelve o'clock
// with the percentage in its middle. At most one is open (g_qround_bar).
#pragma once

#include <QWidget>

class QDialog;

class QRoundProgressBar : public QWidget
{
    Q_OBJECT
  public:
    enum BarStyle { StyleDonut = 0 };

    explicit QRoundProgressBar(QWidget* parent = nullptr);
    ~QRoundProgressBar() override;

    // Opens the one bar over page (x 120, y 70, 100 x 100, value 0); does
    // nothing while a bar is open.
    static void create_qround_bar(QDialog* page);
    // Forgets the open bar without touching it.
    static void del_qround_bar();

    double minimum() const { return m_min; }
    double maximum() const { return m_max; }
    double value() const { return m_value; }
    int decimals() const { return m_decimals; }
    double startAngle() const { return m_startAngle; }
    BarStyle barStyle() const { return m_barStyle; }

    void setRange(double min, double max);
    void setMinimum(double min);
    void setMaximum(double max);
    void setValue(int value);
    void setValue(double value);
    void setStartAngle(double angle);
    void setOutlinePenWidth(double width);
    void setDataPenWidth(double width);
    void setDecimals(int count);
    void setBarStyle(BarStyle style);

    // The text in the middle: the percentage and "%".
    QString valueText() const;

  public slots:
    // Progress of the job: 99 or less shows it on the open bar, 100 or more
    // closes the open bar. Works on g_qround_bar, whichever bar received it.
    void para_sync(int percent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double m_min = 0;
    double m_max = 100;
    double m_value = 0;
    BarStyle m_barStyle = StyleDonut;
    int m_decimals = 0;
    double m_startAngle = 90;
    double m_outlinePenWidth = 0;
    double m_dataPenWidth = 0;
};

extern QRoundProgressBar* g_qround_bar;
