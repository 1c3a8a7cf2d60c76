#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The user's settings and the app's small lists, as Foundation's UserDefaults keeps them: a
// type-preserving key-value store, written as a binary plist after every change. The write goes
// through QSaveFile, so a crash mid-write leaves the previous file intact.
//
// Values are bool, qint64, double, QString, QByteArray, QVariantList and QVariantMap, nested;
// other integer types are stored as qint64, QStringList as a list of strings. Thread-safe.
class UserDefaults {
public:
    // Loads the file. A missing file starts empty; an unreadable one is logged, moved aside to
    // "<file>.unreadable" (so the next save cannot destroy what it held) and starts empty.
    explicit UserDefaults(QString filePath);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The app's store: "<XDG config>/Orvanta/defaults.plist", unless a test set another file
    // before the first use.
    static UserDefaults& standard();
    static void setStandardFilePathForTesting(QString filePath);

    QString filePath() const { return m_filePath; }

    std::optional<QVariant> object(const QString& key) const;
    // An invalid QVariant removes the key; a value of a type a plist cannot hold is logged and
    // not stored.
    void set(const QString& key, const QVariant& value);
    void remove(const QString& key);

    // Foundation's readings: bool as is, a number when not 0, the text "YES"/"true" (any case) or
    // a non-zero integer text; false otherwise.
    bool boolForKey(const QString& key) const;
    // A number (truncated), a numeric text, a bool as 0/1; 0 otherwise.
    qint64 integerForKey(const QString& key) const;
    // These give a value only when it is stored with that very type.
    std::optional<QByteArray> dataForKey(const QString& key) const;
    std::optional<QVariantList> arrayForKey(const QString& key) const;
    std::optional<QString> stringForKey(const QString& key) const;
    QStringList keys() const;

private:
    void load();
    void saveLocked() const;
    void setAsideUnreadableFile(const QString& reason);

    const QString m_filePath;
    mutable QMutex m_mutex;
    QVariantMap m_values;
    bool m_savingBlocked = false;
};
