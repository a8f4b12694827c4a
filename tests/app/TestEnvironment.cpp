// Windows made with the default settings store must not touch the user's own settings.
#include <QDir>

#include <cstdlib>
#include <unistd.h>

namespace {

const bool kIsolatedRegistry = [] {
    const QString file = QDir::temp().filePath(QStringLiteral("kv-test-registry-%1.reg").arg(::getpid()));
    ::setenv("KESTROVID_REGISTRY", file.toLocal8Bit().constData(), 0);
    return true;
}();

} // namespace
