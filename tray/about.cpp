#include "tray/about.h"

#include <QCoreApplication>

namespace about {
namespace {

// No trailing slash: in an unquoted attribute "/>" would close the tag and
// lose the link.
const char *const makerSite = "https://massa.ru";
const char *const qtSite = "https://www.qt.io";
const char *const cmakeSite = "https://cmake.org";

QString tr(const char *text)
{
    return QCoreApplication::translate("Gravex", text);
}

// An anchor with an unquoted href, as the about text has always written them.
QString link(const QString &href, const QString &label)
{
    return QLatin1String("<a href=") + href + QLatin1Char('>') + label +
           QLatin1String("</a>");
}

QString link(const char *href, const QString &label)
{
    return link(QLatin1String(href), label);
}

QString libraries(const QString &qtVersion)
{
    return QLatin1String("Qt ") + qtVersion +
           QLatin1String(":<br>Qt6Core;<br>Qt6Gui;<br>Qt6Widgets;<br>Qt6Network;<br>Qt6Core5Compat.");
}

QString english(const QString &qtVersion, const QString &projectPage)
{
    const QString qt = QLatin1String("Qt ") + qtVersion;
    return tr("The program is intended for reception of the data<br>from scales ") +
           link(makerSite, tr("Massa-K")) +
           tr(" of series VPM and TV_R3 (modification MF)<br>in On-Line mode through Ethernet "
              "connection on UDP protocol.") +
           QLatin1String("<br><br>") +
           tr("This program is free software, released under the MIT licence (see License.txt).") +
           QLatin1String("<br><br>") +
           tr("It is provided as is, without warranty of any kind.") + QLatin1String("<br><br>") +
           link(projectPage, tr("Project page")) + QLatin1Char('.') + QLatin1String("<br>") +
           tr("The exchange protocol ") + link(makerSite, tr("description")) + QLatin1Char('.') +
           QLatin1String("<br><br>") + tr("The program is developed in the environment of ") +
           link(qtSite, qt) + QLatin1Char('.') + QLatin1String("<br>") +
           tr("The setup package is built with ") + link(cmakeSite, tr("CMake and CPack")) +
           QLatin1Char('.') + QLatin1String("<br><br>") +
           tr("The distribution kit set includes libraries from package ") + libraries(qtVersion) +
           QLatin1String("<br><br><br>") +
           tr("All trade marks mentioned here, are the property of their appropriate owners.");
}

QString russian(const QString &qtVersion, const QString &projectPage)
{
    const QString qt = QLatin1String("Qt ") + qtVersion;
    return tr("Программа предназначена для приема данных<br>с весов ") +
           link(makerSite, tr("Масса-К")) +
           tr(" серий ВПМ и ТВ_Р3 (модификация MF)<br>в режиме On-Line через Ethernet соедниение "
              "по протоколу UDP.") +
           QLatin1String("<br><br>") +
           tr("Это свободная программа, распространяемая по лицензии MIT (см. License.txt).") +
           QLatin1String("<br><br>") +
           tr("Она предоставляется как есть, без каких-либо гарантий.") +
           QLatin1String("<br><br>") + link(projectPage, tr("Страница проекта")) +
           QLatin1Char('.') + QLatin1String("<br>") + link(makerSite, tr("Описание")) +
           tr(" протокола обмена.") + QLatin1String("<br><br>") +
           tr("Программа разработана в среде ") + link(qtSite, qt) + QLatin1Char('.') +
           QLatin1String("<br>") + tr("Установочный пакет собран с помощью ") +
           link(cmakeSite, tr("CMake и CPack")) + QLatin1Char('.') + QLatin1String("<br><br>") +
           tr("В комплект дистрибутива входят библиотеки из состава ") + libraries(qtVersion) +
           QLatin1String("<br><br><br>") +
           tr("Все товарные знаки, упомянутые здесь, являются собственностью их соответствующих "
              "владельцев.");
}

} // namespace

QString text(int language, const QString &longTitle, const QString &version,
             const QString &qtVersion, const QString &projectPage)
{
    return QLatin1String("<b>") + longTitle + QLatin1Char(' ') + version +
           QLatin1String("</b><br><br>") +
           (language != 0 ? english(qtVersion, projectPage) : russian(qtVersion, projectPage));
}

} // namespace about
