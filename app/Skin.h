#pragma once
// The supplied skin pictures, looked up by name (":/skin/<name>.png"); a missing picture
// is a null image, never an error.
#include <QImage>
#include <QString>

#include <functional>

namespace kv::app {

using PictureSource = std::function<QImage(const QString& name)>;

QImage loadSkinPicture(const QString& name);

} // namespace kv::app
