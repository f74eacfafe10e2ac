// Names, menu order, label styles and icons of the six video sources.
#pragma once

#include <QString>

class QLabel;

class sourceinfo
{
  public:
    static QString get_source_name_by_sourceid(unsigned char id);
    static QString get_source_name_by_listseq(unsigned char pos);
    static unsigned char get_source_id_by_listseq(unsigned char pos);
    static unsigned char get_listseq_by_source_id(unsigned char id);
    // Rich-text template with one %1 for the caller to fill.
    static QString get_source_specialstyle0_by_sourceid(unsigned char id);
    // The name followed by the count in brackets.
    static QString get_source_specialstyle1_by_sourceid(unsigned char id, QString name, unsigned char count);
    static void set_source_pixmap(QLabel* label, unsigned char id);
    static void set_sourceonline_pixmap(QLabel* label, unsigned char id, unsigned char online);
};
