#pragma once

#include "rules/Failure.h"

namespace store {

// A failure of the database: the file missing, a statement rejected, a value refused,
// the file locked for too long. The text is the engine's message (and the file's path
// where that helps), ready to be shown to the user.
class StoreError : public horavo::Failure {
public:
    using Failure::Failure;
};

// Another writer changed or deleted the row since it was read; nothing was written.
class ConflictError : public StoreError {
public:
    ConflictError();
};

// There is no database file at the path given.
class MissingDatabaseError : public StoreError {
public:
    using StoreError::StoreError;
};

} // namespace store
