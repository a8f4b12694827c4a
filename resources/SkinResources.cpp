#include "resources/SkinResources.h"

namespace kv::resources {

QString skinPath(const QString& fileName)
{
    return QStringLiteral(":/skin/") + fileName;
}

QString glyphPath(const QString& control, const QString& state)
{
    return skinPath(control + QLatin1Char('_') + state + QStringLiteral(".png"));
}

} // namespace kv::resources
