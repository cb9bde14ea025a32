#include "core/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installTranslation(QCoreApplication& app) {
    return installTranslation(app, QLocale::system());
}

bool installTranslation(QCoreApplication& app, const QLocale& locale) {
    // Qt's texts (the command line's "Usage:", dialogs' buttons), when its
    // translations are installed.
    auto* qt = new QTranslator(&app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;

    auto* own = new QTranslator(&app);
    if (!own->load(locale, QStringLiteral("harborwatch"), QStringLiteral("_"),
                   QStringLiteral(":/i18n"))) {
        delete own;
        return false;
    }
    QCoreApplication::installTranslator(own);
    return true;
}
