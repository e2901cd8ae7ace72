#pragma once

#include <QHash>
#include <QObject>
#include <QString>

namespace tellwire {

// The user's persistent preferences: a string key-value store that tells every
// reader in the process about each write at once.
class Defaults : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The stored string, or the empty text when the key is not set.
    virtual QString string(const QString& key) const = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
    // Whether the key holds a value, the empty text included.
    virtual bool contains(const QString& key) const { return !string(key).isEmpty(); }

signals:
    void changed(const QString& key);
};

// Defaults that live only as long as the process.
class MemoryDefaults final : public Defaults {
    Q_OBJECT
public:
    using Defaults::Defaults;

    QString string(const QString& key) const override;
    void setString(const QString& key, const QString& value) override;
    bool contains(const QString& key) const override;

private:
    QHash<QString, QString> values_;
};

} // namespace tellwire
