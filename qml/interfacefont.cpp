#include "interfacefont.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

static const char* const faceFiles[] = {
    ":/fonts/Assistant-ExtraLight.woff",
    ":/fonts/Assistant-Light.woff",
    ":/fonts/Assistant-Regular.woff",
    ":/fonts/Assistant-SemiBold.woff",
    ":/fonts/Assistant-Bold.woff",
    ":/fonts/Assistant-ExtraBold.woff",
};

bool installInterfaceFont()
{
    bool ok = true;
    for (const char* file : faceFiles) {
        if (QFontDatabase::addApplicationFont(QString::fromLatin1(file)) < 0)
            ok = false;
    }
    if (!ok)
        return false;
    QFont font = QGuiApplication::font();
    font.setFamily(QStringLiteral("Assistant"));
    QGuiApplication::setFont(font);
    return true;
}

// The interface names its regular face "Assistant Regular", as the font's full name
// reads. Fontconfig registers the face under its family "Assistant" only, so map the
// full name onto the family before any text is laid out.
static void registerAssistantSubstitute()
{
    QFont::insertSubstitution(QStringLiteral("Assistant Regular"), QStringLiteral("Assistant"));
}
Q_COREAPP_STARTUP_FUNCTION(registerAssistantSubstitute)
