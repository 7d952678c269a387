#include <QCoreApplication>
#include <QFont>

// The interface names its regular face "Assistant Regular", as the font's full name
// reads. Fontconfig registers the face under its family "Assistant" only, so map the
// full name onto the family before any text is laid out.
static void registerAssistantSubstitute()
{
    QFont::insertSubstitution(QStringLiteral("Assistant Regular"), QStringLiteral("Assistant"));
}
Q_COREAPP_STARTUP_FUNCTION(registerAssistantSubstitute)
