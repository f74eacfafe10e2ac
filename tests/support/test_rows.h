// Rows of a data-driven test that differ only by their case's number.
#pragma once

#include <initializer_list>

#include <QtTest>

// An int column, and a row per name numbered from 0 in the order given.
inline void numberedRows(const char* column, std::initializer_list<const char*> names)
{
    QTest::addColumn<int>(column);
    int n = 0;
    for (const char* name : names)
        QTest::newRow(name) << n++;
}
