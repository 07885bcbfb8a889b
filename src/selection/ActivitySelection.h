#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace quillmoss {

// What a study block lets through (applications, by desktop-entry ID) and
// what it keeps away (fragments of web addresses). Entries are kept exactly
// as entered, in insertion order.
struct MacActivitySelection {
    QStringList appBundleIDs;
    QStringList webDomains;

    bool operator==(const MacActivitySelection &) const = default;

    static const MacActivitySelection &defaultSelection();

    // Compact JSON {"appBundleIDs": [...], "webDomains": [...]}.
    QByteArray encode() const;
    // Both members are required; unknown members are ignored.
    static std::optional<MacActivitySelection> decode(const QByteArray &json);
};

// This application's own identifier.
inline const QString kOwnAppIdentifier = QStringLiteral("app.quillmoss");

} // namespace quillmoss
