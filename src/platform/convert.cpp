#include "platform/convert.h"

#include "platform/error.h"

#include <QDateTime>
#include <cmath>
#include <limits>
#include <optional>

namespace bw {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Parses a whole text as a number; nullopt when it is not one.
std::optional<double> parseNumber(const QString& text) {
    QString s = text;
    while (!s.isEmpty() && isBlank(s.front()))
        s.remove(0, 1);
    while (!s.isEmpty() && isBlank(s.back()))
        s.chop(1);
    if (s.isEmpty())
        return std::nullopt;
    if (s.size() > 2 && s[0] == u'&') {
        const QChar kind = s[1].toUpper();
        int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base == 0)
            return std::nullopt;
        bool ok = false;
        const qulonglong v = s.mid(2).toULongLong(&ok, base);
        if (!ok || v > 0xFFFFFFFFull)
            return std::nullopt;
        // &H values are 16-bit when they fit, else 32-bit, both signed.
        if (v <= 0xFFFF)
            return double(static_cast<qint16>(static_cast<quint16>(v)));
        return double(static_cast<qint32>(static_cast<quint32>(v)));
    }
    int i = 0;
    const int n = s.size();
    if (s[i] == u'+' || s[i] == u'-')
        ++i;
    int digits = 0;
    while (i < n && s[i].isDigit() && s[i].unicode() < 128) {
        ++i;
        ++digits;
    }
    if (i < n && s[i] == u'.') {
        ++i;
        while (i < n && s[i].isDigit() && s[i].unicode() < 128) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
        int j = i + 1;
        if (j < n && (s[j] == u'+' || s[j] == u'-'))
            ++j;
        int expDigits = 0;
        while (j < n && s[j].isDigit() && s[j].unicode() < 128) {
            ++j;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
        i = j;
    }
    if (i != n)
        return std::nullopt;
    QString normal = s;
    normal.replace(u'd', u'e').replace(u'D', u'e');
    // The text is a well-formed number here: one too large for a double is an overflow,
    // one too small reads as (nearly) zero.
    // (Conversion in the C locale whatever the operator's locale.)
    bool ok = false;
    const double v = normal.toDouble(&ok);
    if (std::isinf(v) || (!ok && std::fabs(v) > 1.0))
        throw overflow();
    return ok ? v : 0.0;
}

} // namespace

double RoundHalfEven(double value) {
    return std::nearbyint(value);
}

double CDbl(const QString& text) {
    auto v = parseNumber(text);
    if (!v)
        throw typeMismatch();
    return *v;
}

short CInt(const QString& text) {
    const double r = RoundHalfEven(CDbl(text));
    if (r < -32768.0 || r > 32767.0)
        throw overflow();
    return static_cast<short>(r);
}

short CInt(const QVariant& value) {
    if (value.isNull())
        throw invalidUseOfNull();
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? -1 : 0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float: {
        const double r = RoundHalfEven(value.toDouble());
        if (r < -32768.0 || r > 32767.0)
            throw overflow();
        return static_cast<short>(r);
    }
    default:
        return CInt(value.toString());
    }
}

VbDate CTime(const QString& text) {
    QString s = text;
    while (!s.isEmpty() && isBlank(s.front()))
        s.remove(0, 1);
    while (!s.isEmpty() && isBlank(s.back()))
        s.chop(1);
    const QStringList parts = s.split(u':');
    if (parts.size() < 2 || parts.size() > 3)
        throw typeMismatch();
    int values[3] = {0, 0, 0};
    for (int k = 0; k < parts.size(); ++k) {
        const QString& p = parts[k];
        if (p.isEmpty() || p.size() > 2)
            throw typeMismatch();
        for (QChar c : p)
            if (c < u'0' || c > u'9')
                throw typeMismatch();
        values[k] = p.toInt();
    }
    if (values[0] > 23 || values[1] > 59 || values[2] > 59)
        throw typeMismatch();
    return vbTime(values[0], values[1], values[2]);
}

double Val(const QString& text) {
    // Keep the characters that may form a number, skipping blanks anywhere.
    QString compact;
    for (QChar c : text) {
        if (isBlank(c))
            continue;
        compact.append(c);
    }
    int i = 0;
    const int n = compact.size();
    if (i < n && (compact[i] == u'+' || compact[i] == u'-'))
        ++i;
    int digits = 0;
    int end = 0;
    while (i < n && compact[i] >= u'0' && compact[i] <= u'9') {
        ++i;
        ++digits;
    }
    if (i < n && compact[i] == u'.') {
        ++i;
        while (i < n && compact[i] >= u'0' && compact[i] <= u'9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    end = i;
    if (i < n &&
        (compact[i] == u'e' || compact[i] == u'E' || compact[i] == u'd' || compact[i] == u'D')) {
        int j = i + 1;
        if (j < n && (compact[j] == u'+' || compact[j] == u'-'))
            ++j;
        int expDigits = 0;
        while (j < n && compact[j] >= u'0' && compact[j] <= u'9') {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            end = j;
    }
    QString num = compact.left(end);
    num.replace(u'd', u'e').replace(u'D', u'e');
    bool ok = false;
    const double v = num.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return 0.0;
    return v;
}

QString CStr(double value) {
    if (value == 0.0)
        return QStringLiteral("0");
    QString s = QString::number(value, 'g', 15);
    // The platform writes exponents as E+15 / E-05.
    const int e = s.indexOf(u'e');
    if (e >= 0) {
        QString mant = s.left(e);
        QString exp = s.mid(e + 1);
        QChar sign = u'+';
        if (exp.startsWith(u'-') || exp.startsWith(u'+')) {
            sign = exp[0];
            exp.remove(0, 1);
        }
        while (exp.size() > 2 && exp.startsWith(u'0'))
            exp.remove(0, 1);
        if (exp.size() < 2)
            exp.prepend(u'0');
        s = mant + u'E' + sign + exp;
    }
    return s;
}

QString CStr(const QVariant& value) {
    if (value.isNull() || !value.isValid()) {
        if (!value.isValid())
            return QString();
        throw invalidUseOfNull();
    }
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float:
        return CStr(value.toDouble());
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
    case QMetaType::QStringList:
    case QMetaType::QByteArrayList:
        throw typeMismatch();
    default:
        if (!value.canConvert<QString>())
            throw typeMismatch();
        return value.toString();
    }
}

QVariant NumberValue(double value) {
    // 2^63 itself does not fit; every double below it in magnitude that is whole does.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isfinite(value) && value == std::trunc(value) && value > -kLimit && value < kLimit)
        return QVariant(static_cast<qlonglong>(value));
    return QVariant(value);
}

QString TextOf(const QVariant& value) {
    if (value.isNull() || !value.isValid())
        return QString();
    return CStr(value);
}

QString Trim(const QString& text) {
    int b = 0;
    int e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    return text.mid(b, e - b);
}

QString Mid(const QString& text, int start) {
    if (start < 1)
        throw Error(err::InvalidProcedureCall,
                    QStringLiteral("Invalid procedure call or argument"));
    return text.mid(start - 1);
}

QString Mid(const QString& text, int start, int length) {
    if (start < 1 || length < 0)
        throw Error(err::InvalidProcedureCall,
                    QStringLiteral("Invalid procedure call or argument"));
    return text.mid(start - 1, length);
}

} // namespace bw
