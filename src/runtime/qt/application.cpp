#include "runtime/application.h"

#include "runtime/form.h"
#include "runtime/registry.h"
#include "runtime/session.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(Q_OS_UNIX)
#include <langinfo.h>
#endif

namespace rt {

namespace {

// Qt keeps its text in UTF-8 whatever the locale, but Xlib writes a window's
// WM_NAME in the C library's character type: under the C locale (LANG unset,
// as in containers, chroots and minimal sessions) the titles' UTF-8 bytes
// would be stored as Latin-1 text, which every reader shows as garbage. So the
// character type becomes UTF-8 where it is not; messages, numbers and dates
// keep the user's locale. The application sets the C library's locale from the
// environment when it is made, so this comes after.
void useUtf8CharacterType() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && std::strcmp(codeset, "UTF-8") == 0)
        return;
    std::setlocale(LC_CTYPE, "C.UTF-8");
#endif
}

QLocale localeFor(int id) {
    switch (id) {
    case 0x0804:
        return QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    default:
        return QLocale::system();
    }
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

int start(const ProjectDescriptor& project, int argc, char** argv) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const Session session = currentSession();
    if (!hasDisplay(session)) {
        std::fprintf(stderr,
                     "%.*s needs a graphical display, and neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set.\n",
                     static_cast<int>(project.name.size()), project.name.data());
        return 1;
    }

    if (const std::string_view platform = platformFor(session); !platform.empty())
        qputenv("QT_QPA_PLATFORM",
                QByteArray(platform.data(), static_cast<qsizetype>(platform.size())));
#endif
    QApplication app(argc, argv);
    useUtf8CharacterType();
    QApplication::setApplicationName(text(project.name));
    QApplication::setApplicationVersion(text(project.version));
    QApplication::setDesktopFileName(QStringLiteral("orbitale"));
    // The program ends by its exit button or a window's close; a window may
    // be hidden behind a report with nothing else on screen meanwhile.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!project.icon.empty())
        QApplication::setWindowIcon(QIcon(text(project.icon)));

    const QLocale locale = localeFor(project.locale);
    QLocale::setDefault(locale);
    QTranslator qtTexts;
    if (qtTexts.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    Registry registry(project.windows);
    project.startup().show();
    return QApplication::exec();
}

} // namespace rt
