#pragma once
// A settings store held in memory, for tests of code that reads and writes settings.
#include "platform/SettingsStore.h"

#include <QMap>
#include <QVariant>

namespace kv::test {

class MemorySettingsStore : public platform::ISettingsStore {
  public:
    bool failWrites = false; // every write fails, as with a store that cannot be saved

    bool keyExists(const QString& key) const override { return keys_.contains(key.toLower()); }
    platform::ValueType valueType(const QString& key, const QString& name) const override
    {
        const auto it = values_.find(id(key, name));
        if (it == values_.end())
            return platform::ValueType::Missing;
        switch (it->typeId()) {
        case QMetaType::QString:
            return platform::ValueType::String;
        case QMetaType::Int:
            return platform::ValueType::DWord;
        case QMetaType::QByteArray:
            return platform::ValueType::Binary;
        default:
            return platform::ValueType::Other;
        }
    }
    std::optional<QString> readString(const QString& key, const QString& name) const override
    {
        return read<QString>(key, name, QMetaType::QString);
    }
    std::optional<std::int32_t> readInteger(const QString& key, const QString& name) const override
    {
        return read<int>(key, name, QMetaType::Int);
    }
    std::optional<QByteArray> readBinary(const QString& key, const QString& name) const override
    {
        return read<QByteArray>(key, name, QMetaType::QByteArray);
    }
    bool writeString(const QString& key, const QString& name, const QString& value) override
    {
        return write(key, name, value);
    }
    bool writeInteger(const QString& key, const QString& name, std::int32_t value) override
    {
        return write(key, name, int(value));
    }
    bool writeBinary(const QString& key, const QString& name, const QByteArray& value) override
    {
        return write(key, name, value);
    }

  private:
    // Registry names are not case-sensitive.
    static QString id(const QString& key, const QString& name)
    {
        return key.toLower() + u'\n' + name.toLower();
    }

    template <class T>
    std::optional<T> read(const QString& key, const QString& name, QMetaType::Type type) const
    {
        const auto it = values_.find(id(key, name));
        if (it == values_.end() || it->typeId() != type)
            return std::nullopt;
        return it->value<T>();
    }
    bool write(const QString& key, const QString& name, const QVariant& value)
    {
        if (failWrites)
            return false;
        keys_.insert(key.toLower(), true);
        values_.insert(id(key, name), value);
        return true;
    }

    QMap<QString, bool> keys_;
    QMap<QString, QVariant> values_;
};

} // namespace kv::test
