#include "ui/shell/panellook.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPointer>
#include <QRect>
#include <QStyleFactory>
#include <QWidget>

const char* const kPanelFontFamily = "WenQuanYi Micro Hei";

namespace
{
// Qt's own default size, kept so pages without sizes look as before.
constexpr qreal kDefaultPoints = 12;
constexpr qreal kPanelDpi = 100;

class PanelFontFilter : public QObject
{
  public:
    using QObject::QObject;
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Polish && object->isWidgetType()) {
            QWidget* w = static_cast<QWidget*>(object);
            QFont f = w->font();
            if (f.pointSizeF() > 0 || f.family() != QLatin1String(kPanelFontFamily)) {
                QFont panel = f;
                panel.setFamily(kPanelFontFamily);
                if (f.pointSizeF() > 0)
                    panel.setPixelSize(panel_pixels(f.pointSizeF()));
                w->setFont(panel);
            }
        }
        return false;
    }
};

QPointer<PanelFontFilter> g_filter;
} // namespace

int panel_pixels(qreal points)
{
    return qRound(points * kPanelDpi / 72);
}

QFont panel_font(int pixels, bool bold)
{
    QFont f(kPanelFontFamily);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void panel_look_init()
{
    if (g_filter || !qApp)
        return;
    QApplication::setStyle(QStyleFactory::create("Windows"));
    QApplication::setFont(panel_font(panel_pixels(kDefaultPoints)));
    g_filter = new PanelFontFilter(qApp);
    qApp->installEventFilter(g_filter);
}

QString shown_text(const QString& text)
{
    QString t = text;
    t.remove(QChar(QChar::SoftHyphen));
    return t;
}

int fitting_pixels(const QString& text, const QSize& box, int largest, int smallest, bool wrap)
{
    const QRect area(QPoint(0, 0), box);
    const int flags = Qt::AlignCenter | (wrap ? Qt::TextWordWrap : 0);
    for (int px = largest; px > smallest; --px) {
        QRect need = QFontMetrics(panel_font(px)).boundingRect(area, flags, text);
        if (area.contains(need))
            return px;
    }
    return smallest;
}
