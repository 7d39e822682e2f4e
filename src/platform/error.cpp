#include "platform/error.h"

#include <QRegularExpression>
#include <QStringList>

namespace bw {

Error::Error(int number, QString description)
    : number_(number), description_(std::move(description)),
      what_(QString::number(number_).append(':').append(description_).toStdString()) {}

QString Error::boxText(const QString& separator) const {
    return QString::number(number_) + separator + description_;
}

Error typeMismatch() {
    return Error(err::TypeMismatch, QStringLiteral("Type mismatch"));
}
Error overflow() {
    return Error(err::Overflow, QStringLiteral("Overflow"));
}
Error invalidUseOfNull() {
    return Error(err::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
}
Error objectNotSet() {
    return Error(err::ObjectNotSet,
                 QStringLiteral("Object variable or With block variable not set"));
}

QString singleLine(const QString& text) {
    QStringList parts;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\\r\\n]+")))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            parts << trimmed;
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace bw
