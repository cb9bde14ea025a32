#pragma once

class QCoreApplication;
class QLocale;

// Installs the program's translation for `locale` (QLocale::system(), the
// user's languages, unless given), compiled into the program as
// ":/i18n/harborwatch_<language>.qm", and Qt's own for the same languages
// where Qt has one. English, the texts' own language, needs none. Returns
// whether a translation of the program's texts was found.
bool installTranslation(QCoreApplication& app);
bool installTranslation(QCoreApplication& app, const QLocale& locale);
