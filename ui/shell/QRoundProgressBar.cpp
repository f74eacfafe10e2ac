#include "ui/shell/QRoundProgressBar.h"

#include <QDialog>
#include <QPainter>
#include <QPainterPath>

#include "core/global.h"
#include "core/logging.h"

QRoundProgressBar* g_qround_bar = nullptr;

QRoundProgressBar::QRoundProgressBar(QWidget* parent) : QWidget(parent) {}

QRoundProgressBar::~QRoundProgressBar()
{
    // A bar destroyed with its page must not stay the open one.
    if (g_qround_bar == this)
        g_qround_bar = nullptr;
}

void QRoundProgressBar::create_qround_bar(QDialog* page)
{
    if (g_qround_bar)
        return;
    g_qround_bar = new QRoundProgressBar(page);
    g_qround_bar->setBarStyle(StyleDonut);
    g_qround_bar->setGeometry(120, 70, 100, 100);
    g_qround_bar->setValue(0);
    g_qround_bar->show();
    if (debugOn())
        zevlog::debug(lcUi(), "\n create_qround_bar");
}

void QRoundProgressBar::del_qround_bar()
{
    g_qround_bar = nullptr;
}

void QRoundProgressBar::para_sync(int percent)
{
    QRoundProgressBar* bar = g_qround_bar;
    if (!bar)
        return;
    if (percent <= 99) {
        bar->setValue(percent);
        return;
    }
    bar->hide();
    g_qround_bar = nullptr;
}

void QRoundProgressBar::setRange(double min, double max)
{
    m_min = min < max ? min : max;
    m_max = min < max ? max : min;
    if (m_value < m_min)
        m_value = m_min;
    if (m_value > m_max)
        m_value = m_max;
    update();
}

void QRoundProgressBar::setMinimum(double min)
{
    setRange(min, m_max);
}

void QRoundProgressBar::setMaximum(double max)
{
    setRange(m_min, max);
}

void QRoundProgressBar::setValue(int value)
{
    setValue(double(value));
}

void QRoundProgressBar::setValue(double value)
{
    if (value == m_value)
        return;
    m_value = value < m_min ? m_min : value > m_max ? m_max : value;
    update();
}

void QRoundProgressBar::setStartAngle(double angle)
{
    if (angle != m_startAngle) {
        m_startAngle = angle;
        update();
    }
}

void QRoundProgressBar::setOutlinePenWidth(double width)
{
    if (width != m_outlinePenWidth) {
        m_outlinePenWidth = width;
        update();
    }
}

void QRoundProgressBar::setDataPenWidth(double width)
{
    if (width != m_dataPenWidth) {
        m_dataPenWidth = width;
        update();
    }
}

void QRoundProgressBar::setDecimals(int count)
{
    if (count >= 0 && count != m_decimals) {
        m_decimals = count;
        update();
    }
}

void QRoundProgressBar::setBarStyle(BarStyle style)
{
    if (style != m_barStyle) {
        m_barStyle = style;
        update();
    }
}

QString QRoundProgressBar::valueText() const
{
    double percent = m_max > m_min ? (m_value - m_min) / (m_max - m_min) * 100 : 0;
    return QString::number(percent, 'f', m_decimals) + "%";
}

void QRoundProgressBar::paintEvent(QPaintEvent*)
{
    const double w = width();
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QRectF base(0, 0, w, w);
    p.fillRect(base, QColor(255, 255, 255, 0));

    const double inner = 0.9 * w;
    QRectF innerRect((w - inner) / 2, (w - inner) / 2, inner, inner);
    QPainterPath ring;
    ring.setFillRule(Qt::OddEvenFill);
    ring.moveTo(base.center());
    ring.addEllipse(innerRect);
    p.setPen(QPen(QColor("#DEE3E7"), 10));
    p.setBrush(Qt::white);
    p.drawPath(ring);

    if (m_value != m_min && m_max > m_min) {
        double arc = 360.0 / (m_max - m_min) * m_value;
        QPen pen(QColor("#2F8DED"), 10);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(innerRect, int(16 * m_startAngle), int(-16 * arc));
    }

    QFont font(QString::fromUtf8("微软雅黑"));
    font.setPixelSize(36);
    p.setFont(font);
    p.setPen(QColor("#606266"));
    p.drawText(base, Qt::AlignCenter, valueText());
}
