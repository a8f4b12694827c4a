#pragma once
// The program's own texts, shared by the window and the update check.
#include <QString>

namespace kv::app {

inline const QString kApplicationTitle = QStringLiteral("KestrovidToPSP");
inline const QString kVersionText = QStringLiteral("1.3");

} // namespace kv::app
