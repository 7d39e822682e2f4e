#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace bw::tool {

// Exit status of brackwater-bell.
enum Exit {
    Ok = 0,
    NoAnswer = 1,
    BadArguments = 2,
    PortFault = 3,
    NotAllowed = 4, // the program's operator is none or lacks the right
    Refused = 5,    // the clock guard kept the computer's time from the terminal
    DatabaseFault = 6
};

// What one command tells. In text mode lines go to standard output as they come; with --json
// nothing is printed until finish(), which writes exactly one JSON document. Either way a
// failure is one line on standard error ("brackwater-bell: " + message).
class Report {
public:
    Report(const QString& command, bool json);

    bool json() const { return json_; }
    // A line of text output (text mode only), flushed at once.
    void line(const QString& text);
    // A progress line, rewritten in place; only when standard output is a terminal.
    void progress(const QString& text);
    // Fields of the JSON document.
    void set(const QString& key, const QJsonValue& value) { doc_[key] = value; }
    void append(const QString& key, const QJsonValue& value);

    // Records the failure, prints its line and gives the exit status back.
    int fail(int code, const QString& message);
    // Ends the command: with --json the document, with its "exit" and any "error", is written.
    int finish(int code);

private:
    void clearProgress();

    bool json_;
    bool progressShown_ = false;
    QJsonObject doc_;
};

} // namespace bw::tool
