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
// Failures of the line's set-up rather than of PPP, numbered outside the service's own
// range (600 to 999) so that they can never be taken for one of its errors.
inline constexpr int kNoSuitableDevice = 1101;        // no network device for the entry
inline constexpr int kProfileDoesNotFitDevice = 1102; // the entry's settings do not fit its device
inline constexpr int kAmbiguousEntry = 1103;          // several entries of this name fit a device
inline constexpr int kNotAuthorized = 1104;           // the user may not change network connections
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
