#pragma once

namespace kavel::platform {

// Installs a replaceable process-wide service (the clock, the dispatcher, the tone) for a
// scope: the constructor hands the service to its installer, the destructor installs none
// again, which brings the default back.
template <typename Service, void (*Install)(Service*)>
class ScopedInstall {
public:
    explicit ScopedInstall(Service& service) { Install(&service); }
    ~ScopedInstall() { Install(nullptr); }
    ScopedInstall(const ScopedInstall&) = delete;
    ScopedInstall& operator=(const ScopedInstall&) = delete;
};

} // namespace kavel::platform
