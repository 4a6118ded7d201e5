#include "store/StoreError.h"

namespace store {

ConflictError::ConflictError()
    : StoreError(QStringLiteral("Row cannot be located for updating. Some values may have been "
                                "changed since it was last read."))
{
}

} // namespace store
