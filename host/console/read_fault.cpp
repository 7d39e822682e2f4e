#include "host/console/read_fault.h"

#include "host/console/console_texts.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <exception>

namespace bw::host::console {

namespace {

// A description as one line of at most 200 characters: a driver may run to several.
QString oneLine(const QString& s) {
    QString out = s.simplified();
    if (out.size() > 200)
        out = out.left(199) + QChar(0x2026);
    return out;
}

} // namespace

ReadFault readFault(const Error& error) {
    using Kind = ReadFault::Kind;
    Kind kind = Kind::Other;
    switch (error.number()) {
    case store::dberr::ProviderFailure:
    case store::dberr::InvalidConnection:
        kind = Kind::CannotOpen;
        break;
    case store::dberr::CommandFailed:
    case store::dberr::ObjectClosed:
        kind = Kind::Refused;
        break;
    default:
        break;
    }
    return ReadFault{kind, oneLine(error.description())};
}

ReadFault attempt(const std::function<void()>& read) {
    try {
        read();
        return {};
    } catch (const Error& e) {
        return readFault(e);
    } catch (const std::exception& e) {
        return ReadFault{ReadFault::Kind::Other, oneLine(QString::fromLocal8Bit(e.what()))};
    } catch (...) {
        return ReadFault{ReadFault::Kind::Other, QString()};
    }
}

QString reasonText(const ReadFault& fault) {
    Text words = Text::ReasonOther;
    switch (fault.kind) {
    case ReadFault::Kind::None:
        return QString();
    case ReadFault::Kind::CannotOpen:
        words = Text::ReasonCannotOpen;
        break;
    case ReadFault::Kind::Refused:
        words = Text::ReasonRefused;
        break;
    case ReadFault::Kind::Other:
        break;
    }
    return fault.cause.isEmpty() ? text(words)
                                 : text(Text::ReasonQuoted).arg(text(words), fault.cause);
}

} // namespace bw::host::console
