#pragma once

#include "platform/MessageBoxes.h"

namespace platform {

// The real boxes, on QMessageBox.
class QtMessageBoxes final : public MessageBoxes {
public:
    using MessageBoxes::MessageBoxes;

protected:
    Answer present(const QString& prompt, const QString& title, Buttons buttons) override;
};

} // namespace platform
