#pragma once

#include <QString>

// The user-facing range message. The labels are matched by the interface,
// so they must stay exactly as they are.
inline QString rangeMessage(const QString& label, const QString& minimum, const QString& maximum)
{
    // One multi-argument pass, so a '%' in a label can't be substituted.
    return QStringLiteral("<b>%1</b> is outside the allowed range of %2 to %3.").arg(label, minimum, maximum);
}
