// Key releases as the panel delivers them.
#pragma once

#include <QApplication>
#include <QKeyEvent>

#include <initializer_list>

inline void release_key(QWidget* w, int key)
{
    QKeyEvent e(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Key releases in a row.
inline void release_keys(QWidget* w, std::initializer_list<int> keys)
{
    for (int key : keys)
        release_key(w, key);
}
