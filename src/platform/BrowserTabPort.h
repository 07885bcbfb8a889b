#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quillmoss {

enum class BrowserFamily { Chrome, Safari, Firefox };

// Reads and closes the front tab of a browser. Reads may take a while (the
// browser answers over a bus), so results come back through a callback on the
// main thread; an absent address means "could not read".
class BrowserTabPort {
public:
    virtual ~BrowserTabPort() = default;
    virtual bool isRunning(BrowserFamily family) = 0;
    virtual void readFrontTabAddress(BrowserFamily family,
                                     std::function<void(std::optional<QString> address)> done) = 0;
    // Closes the tab just read; best effort, the result is not reported.
    virtual void closeFrontTab(BrowserFamily family) = 0;
};

} // namespace quillmoss
