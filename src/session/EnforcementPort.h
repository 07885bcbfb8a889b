#pragma once

namespace quillmoss {

// Turns the hiding of disallowed applications and the closing of blocked
// tabs on and off. applyBlocking() while on restarts cleanly.
class EnforcementPort {
public:
    virtual ~EnforcementPort() = default;
    virtual void applyBlocking() = 0;
    virtual void stopMonitoring() = 0;
    virtual bool isMonitoring() const = 0;
};

} // namespace quillmoss
