#pragma once

#include <QString>
#include <functional>

namespace bw {
class Error;
}

namespace bw::host::console {

// Why one of the console's readings (the status, the meal counts, the operation log) came back
// without its figures; worded by the window that shows it.
struct ReadFault {
    enum class Kind {
        None,       // read
        CannotOpen, // the database could not be opened (server down, file gone, no driver)
        Refused,    // the database refused the query (a table missing, the connection lost)
        Other       // anything else the reading raised
    };
    Kind kind = Kind::None;
    QString cause; // the database's own description, one line
    bool failed() const { return kind != Kind::None; }
};

// The fault of an error a reading raised.
ReadFault readFault(const Error& error);

// Runs read on this thread and catches whatever it raises: Kind::None when it went well.
ReadFault attempt(const std::function<void()>& read);

// The reason in the operator's language, the database's description quoted after it:
// "无法打开数据库（“…”）".
QString reasonText(const ReadFault& fault);

} // namespace bw::host::console
