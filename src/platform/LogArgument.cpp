#include "platform/LogArgument.h"

#include "platform/SaturatedInteger.h"

namespace {

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

} // namespace

QString LogArgument::toText() const {
    return std::visit(Overloaded{
                          [](const QString& text) { return text; },
                          [](qint64 value) { return QString::number(value); },
                          [](quint64 value) { return QString::number(value); },
                          [](double value) { return QString::number(value, 'g', 17); },
                          [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); },
                      },
                      m_value);
}

qint64 LogArgument::toSigned() const {
    return std::visit(Overloaded{
                          [](const QString& text) { return text.toLongLong(); },
                          [](qint64 value) { return value; },
                          [](quint64 value) { return static_cast<qint64>(value); },
                          [](double value) { return saturatedInteger(value); },
                          [](bool value) { return qint64(value ? 1 : 0); },
                      },
                      m_value);
}

quint64 LogArgument::toUnsigned() const {
    if (const auto* value = std::get_if<quint64>(&m_value))
        return *value;
    if (const auto* text = std::get_if<QString>(&m_value))
        return text->toULongLong();
    return static_cast<quint64>(toSigned());
}

double LogArgument::toReal() const {
    return std::visit(Overloaded{
                          [](const QString& text) { return text.toDouble(); },
                          [](qint64 value) { return static_cast<double>(value); },
                          [](quint64 value) { return static_cast<double>(value); },
                          [](double value) { return value; },
                          [](bool value) { return value ? 1.0 : 0.0; },
                      },
                      m_value);
}

bool LogArgument::toBool() const {
    if (const auto* value = std::get_if<bool>(&m_value))
        return *value;
    if (const auto* value = std::get_if<double>(&m_value))
        return *value != 0.0;
    return toUnsigned() != 0;
}
