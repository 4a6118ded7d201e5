#pragma once

#include <vector>

#include <QByteArray>
#include <QString>

namespace store {

// What a server's address may show of itself: never a password, whatever libpq makes of
// the address. Its passwords are the values of password and sslpassword (key=value,
// quoted or not, or a URI's ?password=) and the password of a URI's user:password@,
// each as written and as libpq reads it. Where the address is malformed (an unclosed
// quote or "[", a password with a blank, "@" or "/" not percent-encoded) libpq reads a
// password short, or another value out of it, and its messages quote what it read, the
// whole address or a piece of it: so a password's place is found leniently, up to the
// next keyword (key=value) or the last "@" before the query (URI), and what a message
// quotes from that place is hidden as well.
class AddressMask {
public:
    explicit AddressMask(const QString& conninfo);

    // The address for messages: libpq's keyword=value pairs without the passwords, or,
    // when libpq cannot read it, the text with every password as ***.
    const QString& shown() const { return shown_; }
    // A message about this address (libpq's, the server's) with every password in it, and
    // every piece it quotes from a password's place, as ***.
    QString masked(const QString& message) const;

private:
    // The address as written, and with its escapes undone (percent-encoding in a URI,
    // backslashes and quotes in key=value), each byte marked where it is a password's.
    struct View {
        QByteArray text;
        std::vector<bool> secret;
    };

    // Marks in marks, from offset on, what piece repeats of a password's place; nothing
    // when piece also stands in the address clear of every password.
    void markPiece(const QByteArray& piece, std::vector<bool>& marks, qsizetype offset) const;
    void markSecrets(const QByteArray& text, std::vector<bool>& marks) const;

    std::vector<View> views_;
    std::vector<QByteArray> secrets_; // each password as written and as read
    QString shown_;
};

} // namespace store
