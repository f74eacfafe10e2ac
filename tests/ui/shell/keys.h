// Key releases as the panel delivers them.
#pragma once

#include <QApplication>
#include <QKeyEvent>

inline void release_key(QWidget* w, int key)
{
    QKeyEvent e(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
