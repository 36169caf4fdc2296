#pragma once

// Texts written out by hand in the tests' UTF-8 source.
#include <QStringList>

#include <initializer_list>

inline QStringList utf8List(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list << QString::fromUtf8(text);
    return list;
}
