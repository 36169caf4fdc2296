#include "tray/about.h"

#include "shippedlibraries.h"

#include <QCoreApplication>
#include <QStringList>

namespace about {
namespace {

// No trailing slash: in an unquoted attribute "/>" would close the tag and
// lose the link.
const char *const makerSite = "https://massa.ru";
const char *const qtSite = "https://www.qt.io";
const char *const cmakeSite = "https://cmake.org";

// The about text of one language, with its links as %1 (the scale maker),
// %2 (the project page), %3 (the protocol description), %4 (Qt), %5 (the
// setup tool), and %6 the libraries that come with the program: those the
// package holds (Qt's and the compiler's runtime) or those of the system.
struct Texts
{
    const char *body;
    const char *maker;
    const char *project;
    const char *protocol;
    const char *setupTool;
    const char *bundledLibraries; // %1 Qt, %2 its files, %3 the runtime's
    const char *systemLibraries;  // %1 Qt, %2 its files
};

const Texts english = {
    "The program is intended for reception of the data<br>from scales %1 of series VPM and "
    "TV_R3 (modification MF)<br>in On-Line mode through Ethernet connection on UDP protocol."
    "<br><br>This program is free software, released under the MIT licence (see License.txt)."
    "<br><br>It is provided as is, without warranty of any kind.<br><br>"
    "%2.<br>The exchange protocol %3."
    "<br><br>The program is developed in the environment of %4."
    "<br>The setup package is built with %5."
    "<br><br>%6"
    "<br><br><br>All trade marks mentioned here, are the property of their appropriate owners.",
    "Massa-K",
    "Project page",
    "description",
    "CMake, CPack and NSIS",
    "The distribution kit set includes libraries from package %1:<br>%2;<br>"
    "and the runtime of the compiler MinGW-w64:<br>%3.",
    "The program uses these libraries of %1 installed in the system:<br>%2.",
};

const Texts russian = {
    "Программа предназначена для приема данных<br>с весов %1 серий ВПМ и ТВ_Р3 (модификация "
    "MF)<br>в режиме On-Line через Ethernet соедниение по протоколу UDP."
    "<br><br>Это свободная программа, распространяемая по лицензии MIT (см. License.txt)."
    "<br><br>Она предоставляется как есть, без каких-либо гарантий.<br><br>"
    "%2.<br>%3 протокола обмена."
    "<br><br>Программа разработана в среде %4."
    "<br>Установочный пакет собран с помощью %5."
    "<br><br>%6"
    "<br><br><br>Все товарные знаки, упомянутые здесь, являются собственностью их "
    "соответствующих владельцев.",
    "Масса-К",
    "Страница проекта",
    "Описание",
    "CMake, CPack и NSIS",
    "В комплект дистрибутива входят библиотеки из состава %1:<br>%2;<br>"
    "и библиотеки времени выполнения компилятора MinGW-w64:<br>%3.",
    "Программа использует эти библиотеки %1, установленные в системе:<br>%2.",
};

QString tr(const char *text)
{
    return QCoreApplication::translate("Gravex", text);
}

// An anchor with an unquoted href, as the about text has always written them.
QString link(const QString &href, const QString &label)
{
    return QLatin1String("<a href=") + href + QLatin1Char('>') + label + QLatin1String("</a>");
}

// File names one to a line, each but the last followed by a semicolon.
QString fileList(const char *names)
{
    return QString::fromLatin1(names).split(QLatin1Char('|')).join(QLatin1String(";<br>"));
}

QString libraries(const Texts &t, const QString &qt)
{
    if (SCALVO_LIBRARIES_BUNDLED)
        return tr(t.bundledLibraries)
            .arg(qt, fileList(SCALVO_QT_LIBRARIES), fileList(SCALVO_RUNTIME_LIBRARIES));
    return tr(t.systemLibraries).arg(qt, fileList(SCALVO_QT_LIBRARIES));
}

} // namespace

QString text(int language, const QString &longTitle, const QString &version,
             const QString &qtVersion, const QString &projectPage)
{
    const Texts &t = language != 0 ? english : russian;
    const QString qt = QLatin1String("Qt ") + qtVersion;
    return QLatin1String("<b>") + longTitle + QLatin1Char(' ') + version +
           QLatin1String("</b><br><br>") +
           tr(t.body).arg(
               link(QLatin1String(makerSite), tr(t.maker)), link(projectPage, tr(t.project)),
               link(QLatin1String(makerSite), tr(t.protocol)), link(QLatin1String(qtSite), qt),
               link(QLatin1String(cmakeSite), tr(t.setupTool)), libraries(t, qt));
}

} // namespace about
