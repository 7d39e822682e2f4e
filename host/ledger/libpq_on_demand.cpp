// The PostgreSQL client functions the host calls itself, bound when first called. Its
// connections come from Qt's PostgreSQL driver, which has loaded the library by then; a
// program that never uses PostgreSQL (and every --version or --help) neither loads nor binds
// it, which costs more than the rest of a command-line program's start.
//
// A function the host starts to call is added here: the programs do not link the library.

#include <dlfcn.h>
#include <libpq-fe.h>

namespace {

void* library() {
    static void* const handle = dlopen("libpq.so.5", RTLD_LAZY | RTLD_LOCAL);
    return handle;
}

// The library's own fn, or null when the library cannot be loaded: then no connection of
// the driver exists either, and each function answers as libpq does for a null connection.
template <class Fn> Fn bound(const char* name) {
    void* const lib = library();
    return lib ? reinterpret_cast<Fn>(dlsym(lib, name)) : nullptr;
}

} // namespace

extern "C" {

void PQclear(PGresult* res) {
    static const auto fn = bound<decltype(&PQclear)>("PQclear");
    if (fn)
        fn(res);
}

char* PQcmdTuples(PGresult* res) {
    static const auto fn = bound<decltype(&PQcmdTuples)>("PQcmdTuples");
    static char none[] = "";
    return fn ? fn(res) : none;
}

char* PQencryptPasswordConn(PGconn* conn, const char* passwd, const char* user,
                            const char* algorithm) {
    static const auto fn = bound<decltype(&PQencryptPasswordConn)>("PQencryptPasswordConn");
    return fn ? fn(conn, passwd, user, algorithm) : nullptr;
}

char* PQerrorMessage(const PGconn* conn) {
    static const auto fn = bound<decltype(&PQerrorMessage)>("PQerrorMessage");
    static char unloaded[] = "the PostgreSQL client library cannot be loaded";
    return fn ? fn(conn) : unloaded;
}

PGresult* PQexec(PGconn* conn, const char* query) {
    static const auto fn = bound<decltype(&PQexec)>("PQexec");
    return fn ? fn(conn, query) : nullptr;
}

void PQfreemem(void* ptr) {
    static const auto fn = bound<decltype(&PQfreemem)>("PQfreemem");
    if (fn)
        fn(ptr);
}

PGresult* PQgetResult(PGconn* conn) {
    static const auto fn = bound<decltype(&PQgetResult)>("PQgetResult");
    return fn ? fn(conn) : nullptr;
}

char* PQgetvalue(const PGresult* res, int tup_num, int field_num) {
    static const auto fn = bound<decltype(&PQgetvalue)>("PQgetvalue");
    static char none[] = "";
    return fn ? fn(res, tup_num, field_num) : none;
}

int PQntuples(const PGresult* res) {
    static const auto fn = bound<decltype(&PQntuples)>("PQntuples");
    return fn ? fn(res) : 0;
}

int PQconsumeInput(PGconn* conn) {
    static const auto fn = bound<decltype(&PQconsumeInput)>("PQconsumeInput");
    return fn ? fn(conn) : 0;
}

int PQflush(PGconn* conn) {
    static const auto fn = bound<decltype(&PQflush)>("PQflush");
    return fn ? fn(conn) : -1;
}

int PQsetnonblocking(PGconn* conn, int arg) {
    static const auto fn = bound<decltype(&PQsetnonblocking)>("PQsetnonblocking");
    return fn ? fn(conn, arg) : -1;
}

int PQsocket(const PGconn* conn) {
    static const auto fn = bound<decltype(&PQsocket)>("PQsocket");
    return fn ? fn(conn) : -1;
}

int PQputCopyData(PGconn* conn, const char* buffer, int nbytes) {
    static const auto fn = bound<decltype(&PQputCopyData)>("PQputCopyData");
    return fn ? fn(conn, buffer, nbytes) : -1;
}

int PQputCopyEnd(PGconn* conn, const char* errormsg) {
    static const auto fn = bound<decltype(&PQputCopyEnd)>("PQputCopyEnd");
    return fn ? fn(conn, errormsg) : -1;
}

char* PQresultErrorField(const PGresult* res, int fieldcode) {
    static const auto fn = bound<decltype(&PQresultErrorField)>("PQresultErrorField");
    return fn ? fn(res, fieldcode) : nullptr;
}

char* PQresultErrorMessage(const PGresult* res) {
    static const auto fn = bound<decltype(&PQresultErrorMessage)>("PQresultErrorMessage");
    static char none[] = "";
    return fn ? fn(res) : none;
}

ExecStatusType PQresultStatus(const PGresult* res) {
    static const auto fn = bound<decltype(&PQresultStatus)>("PQresultStatus");
    return fn ? fn(res) : PGRES_FATAL_ERROR;
}

} // extern "C"
