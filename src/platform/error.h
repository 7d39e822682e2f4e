#pragma once

#include <QString>
#include <exception>
#include <string>

namespace bw {

// An error as the host platform reports it: a number and a description.
// Every error box of the window shows these two.
class Error : public std::exception {
public:
    Error(int number, QString description);

    int number() const noexcept { return number_; }
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.c_str(); }

    // "number:description", the form of the window's error boxes.
    QString boxText(const QString& separator = QStringLiteral(":")) const;

private:
    int number_;
    QString description_;
    std::string what_;
};

// Platform error numbers used across the component.
namespace err {
constexpr int InvalidProcedureCall = 5; // "Invalid procedure call or argument"
constexpr int Overflow = 6;             // "Overflow"
constexpr int TypeMismatch = 13;        // "Type mismatch"
constexpr int ObjectNotSet = 91;        // "Object variable or With block variable not set"
constexpr int InvalidUseOfNull = 94;    // "Invalid use of Null"
constexpr int CannotCreateObject = 429; // "ActiveX component can't create object"
constexpr int NotSupported = 438;       // "Object doesn't support this property or method"
} // namespace err

// A message that may come in several lines (a database driver's "could not connect ...\n\tIs
// the server running ...") as one line: each line trimmed, joined by a space.
QString singleLine(const QString& text);

Error typeMismatch();
Error overflow();
Error invalidUseOfNull();
Error objectNotSet();

} // namespace bw
