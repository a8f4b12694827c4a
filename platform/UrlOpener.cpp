#include "platform/UrlOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace kv::platform {

void SystemUrlOpener::open(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
}

bool isWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace kv::platform
