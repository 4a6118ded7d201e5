#include "rules/Permission.h"

namespace horavo {

std::optional<Permission> permissionOf(qint64 code)
{
    if (code < codeOf(Permission::Administrator) || code > codeOf(Permission::NotAdmitted))
        return std::nullopt;
    return static_cast<Permission>(code);
}

} // namespace horavo
