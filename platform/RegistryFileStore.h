#pragma once
// The settings store on systems without a registry: one text file in the registry-export
// format ("Windows Registry Editor Version 5.00", [HKEY_CURRENT_USER\...] sections,
// "Name"="text", dword:, hex:). A user can paste an export of a Windows registry key into it.
//
// The file may be UTF-16LE with a byte-order mark (as Windows writes exports) or UTF-8.
// Every write re-reads the file, changes only the lines of the value written and saves the
// whole file atomically; every other line keeps its bytes.
#include "platform/SettingsStore.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace kv::platform {

class RegistryFileStore : public ISettingsStore {
  public:
    // Reads the file now; a missing file is an empty store (created on the first write).
    explicit RegistryFileStore(QString filePath);
    ~RegistryFileStore() override;

    // $KESTROVID_REGISTRY, else kestrovid/registry.reg under $XDG_CONFIG_HOME or ~/.config.
    static QString defaultPath();

    const QString& filePath() const { return path_; }
    // Why the last write failed (empty after a successful one).
    const QString& lastError() const { return lastError_; }

    bool keyExists(const QString& key) const override;
    ValueType valueType(const QString& key, const QString& name) const override;
    std::optional<QString> readString(const QString& key, const QString& name) const override;
    std::optional<std::int32_t> readInteger(const QString& key, const QString& name) const override;
    std::optional<QByteArray> readBinary(const QString& key, const QString& name) const override;
    bool writeString(const QString& key, const QString& name, const QString& value) override;
    bool writeInteger(const QString& key, const QString& name, std::int32_t value) override;
    bool writeBinary(const QString& key, const QString& name, const QByteArray& value) override;

    struct Document; // the parsed file (lines with their original bytes, sections, values)

  private:
    bool write(const QString& key, const QString& name, const QString& dataText);

    QString path_;
    QString lastError_;
    std::unique_ptr<Document> doc_;
};

// The store the program uses: the file at RegistryFileStore::defaultPath().
std::unique_ptr<ISettingsStore> openUserSettingsStore();

} // namespace kv::platform
