// The part of FennimarWeb that hands addresses to the desktop.

#include "FennimarWeb.h"

#include <QDesktopServices>
#include <QUrl>

namespace FennimarWeb {

bool launchURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return false;
    return QDesktopServices::openUrl(url);
}

} // namespace FennimarWeb
