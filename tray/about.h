#pragma once

#include <QString>

// The rich text of the About box: a bold heading with the long product title
// and the version, then the about text in the interface language.
namespace about {

// `projectPage` is an address without blanks: the links are written unquoted.
QString text(int language, const QString &longTitle, const QString &version,
             const QString &qtVersion, const QString &projectPage);

} // namespace about
