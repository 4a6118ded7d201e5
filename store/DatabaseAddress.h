#pragma once

#include <memory>

#include <QString>

namespace store {

class Engine;

// The variable that names a database server for both programs and the setup tool.
inline constexpr const char* kDatabaseVariable = "HORAVO_DATABASE";
// On an administrator's PC in a room whose seats connect as the seats' role: the
// database as the administrators' role reaches it.
inline constexpr const char* kAdminDatabaseVariable = "HORAVO_ADMIN_DATABASE";

// Where the database is: a file, or a PostgreSQL database on a server, named by a libpq
// connection string or URI.
class DatabaseAddress {
public:
    enum class Kind { File, Server };

    static DatabaseAddress file(const QString& path);
    static DatabaseAddress server(const QString& conninfo);
    // The server HORAVO_DATABASE names when it is set and not empty; otherwise
    // horavo.mdb in the current working directory.
    static DatabaseAddress fromEnvironment();
    // The database the windows of administration and horavo-setup use: the server
    // HORAVO_ADMIN_DATABASE names when it is set and not empty, else fromEnvironment().
    static DatabaseAddress forAdministration();
    // A word of a command line: a URI (postgresql://... or postgres://...) or a
    // connection string (key=value ...) names a server, anything else a file.
    static DatabaseAddress parse(const QString& text);

    Kind kind() const { return kind_; }
    bool isServer() const { return kind_ == Kind::Server; }
    const QString& text() const { return text_; }
    // For messages: the file's path, or the server's address without a password.
    QString shown() const;

private:
    DatabaseAddress(Kind kind, QString text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    QString text_;
};

// A fresh connection to the database (its engine, for record sets). Throws StoreError
// when the file is missing or the server cannot be reached.
std::shared_ptr<Engine> openDatabase(const DatabaseAddress& address);

} // namespace store
