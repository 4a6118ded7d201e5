#pragma once

#include <chrono>
#include <thread>

#include <QString>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace doubles {

// Another process's write transaction on a database file, from a connection of its own:
// holds the write lock until released (or for a while, on a thread of its own).
class FileWriteLock {
public:
    explicit FileWriteLock(const QString& path, bool take = true)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        if (take)
            this->take();
    }
    ~FileWriteLock()
    {
        if (releaser_.joinable())
            releaser_.join();
        release();
        sqlite3_close(db_);
    }
    FileWriteLock(const FileWriteLock&) = delete;
    FileWriteLock& operator=(const FileWriteLock&) = delete;

    void take()
    {
        if (!held_) {
            EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        held_ = true;
    }
    void release()
    {
        if (held_)
            sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        held_ = false;
    }
    bool held() const { return held_; }
    void releaseAfter(std::chrono::milliseconds hold)
    {
        releaser_ = std::thread([this, hold] {
            std::this_thread::sleep_for(hold);
            release();
        });
    }

private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
    std::thread releaser_;
};

} // namespace doubles
