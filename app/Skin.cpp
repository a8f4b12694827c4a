#include "app/Skin.h"

namespace kv::app {

QImage loadSkinPicture(const QString& name)
{
    return QImage(QStringLiteral(":/skin/%1.png").arg(name));
}

} // namespace kv::app
