#include "store/Engine.h"

#include <algorithm>

namespace store {

void Engine::watchTransaction(TransactionWatcher* watcher)
{
    if (std::find(watchers_.begin(), watchers_.end(), watcher) == watchers_.end())
        watchers_.push_back(watcher);
}

void Engine::forget(TransactionWatcher* watcher)
{
    watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), watcher), watchers_.end());
}

void Engine::endTransaction(bool committed) noexcept
{
    std::vector<TransactionWatcher*> told;
    told.swap(watchers_);
    for (TransactionWatcher* watcher : told)
        watcher->transactionEnded(committed);
}

} // namespace store
