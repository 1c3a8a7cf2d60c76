#pragma once

#include <QByteArray>
#include <QString>

#include <concepts>
#include <string>
#include <variant>

// One argument of a printf-style log line, captured by value so that OSLog can format it without
// varargs: whatever a directive asks for, the argument is converted safely, never reinterpreted.
class LogArgument {
public:
    using Value = std::variant<QString, qint64, quint64, double, bool>;

    LogArgument(const QString& text) : m_value(text) {}
    LogArgument(const QByteArray& utf8) : m_value(QString::fromUtf8(utf8)) {}
    LogArgument(const char* utf8) : m_value(utf8 ? QString::fromUtf8(utf8) : QStringLiteral("(null)")) {}
    LogArgument(const std::string& utf8) : m_value(QString::fromStdString(utf8)) {}
    LogArgument(bool value) : m_value(value) {}
    template <std::signed_integral T> LogArgument(T value) : m_value(static_cast<qint64>(value)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) LogArgument(T value) : m_value(static_cast<quint64>(value)) {}
    template <std::floating_point T> LogArgument(T value) : m_value(static_cast<double>(value)) {}

    const Value& value() const { return m_value; }

    QString toText() const;
    // The argument as a printf integer would see it (text that is no number reads as 0).
    qint64 toSigned() const;
    quint64 toUnsigned() const;
    double toReal() const;
    bool toBool() const;
    bool isText() const { return std::holds_alternative<QString>(m_value); }

private:
    Value m_value;
};
