#pragma once
// The program's settings live in a registry-like store of keys and typed values. The value
// types are kept apart so that a missing value and a value of the wrong type can be told
// from each other (the settings reader stops at either).
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace kv::platform {

enum class ValueType { Missing, String, DWord, Binary, Other };

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;

    // Keys are written as in the registry, relative to the current user: "\Software\Kestrovid\PSP".
    virtual bool keyExists(const QString& key) const = 0;
    virtual ValueType valueType(const QString& key, const QString& name) const = 0;

    // Each read returns nothing when the value is missing or of another type.
    virtual std::optional<QString> readString(const QString& key, const QString& name) const = 0;
    virtual std::optional<std::int32_t> readInteger(const QString& key, const QString& name) const = 0;
    virtual std::optional<QByteArray> readBinary(const QString& key, const QString& name) const = 0;

    // Writes create the key when needed. They return false when the store could not be saved.
    virtual bool writeString(const QString& key, const QString& name, const QString& value) = 0;
    virtual bool writeInteger(const QString& key, const QString& name, std::int32_t value) = 0;
    virtual bool writeBinary(const QString& key, const QString& name, const QByteArray& value) = 0;
};

} // namespace kv::platform
