#pragma once
// Names of the skin pictures compiled into the program (target kv_resources).
#include <QString>

namespace kv::resources {

// ":/skin/<name>", e.g. skinPath(u"background.png").
QString skinPath(const QString& fileName);

// ":/skin/<control>_<state>.png", e.g. glyphPath(u"btnAdd", u"over"); state is up, over, down or disabled.
QString glyphPath(const QString& control, const QString& state);

} // namespace kv::resources
