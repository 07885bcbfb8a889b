#pragma once

namespace quillmoss {

// The four short sounds that mark a session's moments.
enum class SoundEvent { SessionStart, StudyStart, BreakStart, SessionComplete };

class SoundPort {
public:
    virtual ~SoundPort() = default;
    virtual void play(SoundEvent event) = 0;
};

} // namespace quillmoss
