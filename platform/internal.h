// Helpers shared by the platform's own sources; not part of its interface.
#pragma once

#include <string>

#include "wintypes.h"

namespace platform_internal {

std::string toUtf8(const std::wstring& w);
std::wstring fromUtf8(const std::string& s);

// Groups registry writes into one transaction: a registration interrupted
// half way leaves nothing behind. Nests; the outermost scope commits.
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    // Marks the work failed: the outermost scope rolls everything back.
    void fail() { failed_ = true; }
    bool ok() const { return begun_; }
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
private:
    bool begun_ = false;
    bool failed_ = false;
};

} // namespace platform_internal
