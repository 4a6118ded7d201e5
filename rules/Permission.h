#pragma once

#include <optional>

#include <QtGlobal>

namespace horavo {

// A user's permission, stored in users.quanxian as a 16-bit code. Only the login window
// acts on it; the administration window shows and edits the bare code.
enum class Permission : qint16 {
    Administrator = 1, // opens the administration window
    User = 2,          // opens the timer window
    RemindedUser = 3,  // the same, after a reminder once the usage passes 500 hours
    NotAdmitted = 4,   // not yet approved, or barred: refused, and the program ends
};

// What signing up gives a new user.
inline constexpr Permission kSignUpPermission = Permission::RemindedUser;

// The permission a stored code names; none for any other code, with which logging in
// opens nothing.
std::optional<Permission> permissionOf(qint64 code);

// The code as it is stored.
constexpr int codeOf(Permission permission)
{
    return static_cast<int>(permission);
}

} // namespace horavo
