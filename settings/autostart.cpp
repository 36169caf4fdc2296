#include "settings/autostart.h"

namespace {
// Characters that force an Exec argument into double quotes.
const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
} // namespace

QString AutostartEntry::execArgument(const QString &program)
{
    QString arg = program;
    bool quote = false;
    for (QChar c : program)
        quote = quote || reserved.contains(c);
    if (quote) {
        QString escaped;
        for (QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                escaped += QLatin1Char('\\');
            escaped += c;
        }
        arg = QLatin1Char('"') + escaped + QLatin1Char('"');
    }
    // Field codes start with %, so a literal one is doubled; the value itself
    // is a string in which a backslash is written twice and a line break as
    // an escape, since a raw one would end the line.
    arg.replace(QLatin1Char('%'), QLatin1String("%%"));
    arg.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    arg.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    arg.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return arg;
}

QString AutostartEntry::desktopEntry(const QString &program)
{
    return QLatin1String("[Desktop Entry]\n"
                         "Type=Application\n"
                         "Name=Scalvanto\n"
                         "Comment=Receives weighing results from networked scales\n"
                         "Exec=") +
           execArgument(program) +
           QLatin1String("\n"
                         "Icon=trelvant\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n");
}
