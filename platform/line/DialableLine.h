#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "platform/line/LineService.h"

namespace platform {

// The error numbers of the remote-access service that the rasdial command reports.
namespace lineerror {
inline constexpr int kNoSuchEntry = 623;
inline constexpr int kNoAnswer = 678;
inline constexpr int kAuthenticationRefused = 691;
inline constexpr int kServiceUnavailable = 711;
inline constexpr int kInvalidArguments = 87;
} // namespace lineerror

enum class DialStage { Connecting, Authenticating, Registering };

struct DialResult {
    int error = 0;                 // 0 when connected, else one of lineerror
    bool alreadyConnected = false; // the entry was up before the dial
    QString detail;                // what the backend said, for the console
    bool connected() const { return error == 0; }
};

// A line service that can also dial one of its entries: what the rasdial command needs.
class DialableLine : public LineService {
public:
    using Progress = std::function<void(DialStage)>;

    // Without a user name or password, the entry's own stored ones are used.
    virtual DialResult dial(const QString& entry, const std::optional<QString>& user,
                            const std::optional<QString>& password, const Progress& progress) = 0;
};

} // namespace platform
