#pragma once

#include <QString>
#include <QWidget>

#include <exception>
#include <optional>

// The centred notice a browser shows in place of a listing it could not get: a symbol, a title
// and an optional message. Its content is fixed when it is made.
class ErrorPlaceholderView : public QWidget {
    Q_OBJECT
public:
    ErrorPlaceholderView(const QString& symbolName, const QString& title,
                         const std::optional<QString>& message, QWidget* parent = nullptr);

    // A locked device and an app that shares no files get their own words; any other error
    // shows its own text as the title.
    static ErrorPlaceholderView* forError(std::exception_ptr error, QWidget* parent = nullptr);

    QString symbolName() const { return m_symbolName; }
    QString title() const;
    // Empty when there is no message line.
    QString message() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_symbolName;
};
