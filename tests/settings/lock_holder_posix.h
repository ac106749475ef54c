#pragma once

#include "settings/file_io.h"
#include "tests/settings/forked_posix.h"

#include <chrono>
#include <filesystem>
#include <unistd.h>

namespace lumidex::test {

// Another process of this user holding a settings file's lock until it is
// killed (or the object goes away).
class LockHolder {
public:
    explicit LockHolder(const std::filesystem::path& file)
        : holder_([this, file] {
              RunWithFileLock(file, [this] {
                  locked_.Send();
                  ::pause();
                  return true;
              });
              return 1;
          }),
          holding_(holder_.started() && locked_.Await(std::chrono::seconds(10))) {}

    // True once the child holds the lock.
    bool holding() const { return holding_; }
    void Kill() { holder_.Kill(); }

private:
    ChildSignal locked_;
    Forked holder_;
    bool holding_;
};

} // namespace lumidex::test
