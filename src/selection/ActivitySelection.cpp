#include "selection/ActivitySelection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quillmoss {

const MacActivitySelection &MacActivitySelection::defaultSelection() {
    static const MacActivitySelection selection{
        {
            // the three browsers whose tabs are watched
            QStringLiteral("chromium"),
            QStringLiteral("google-chrome"),
            QStringLiteral("firefox-esr"),
            // notes, calendar, tasks, mail
            QStringLiteral("org.gnome.Notes"),
            QStringLiteral("org.gnome.Calendar"),
            QStringLiteral("org.gnome.Todo"),
            QStringLiteral("org.gnome.Evolution"),
            // document viewer, then word processor, presentations, spreadsheet
            QStringLiteral("org.gnome.Evince"),
            QStringLiteral("libreoffice-writer"),
            QStringLiteral("libreoffice-impress"),
            QStringLiteral("libreoffice-calc"),
        },
        {
            QStringLiteral("facebook.com"),
            QStringLiteral("instagram.com"),
            QStringLiteral("twitter.com"),
            QStringLiteral("x.com"),
            QStringLiteral("tiktok.com"),
            QStringLiteral("youtube.com"),
            QStringLiteral("reddit.com"),
            QStringLiteral("linkedin.com"),
            QStringLiteral("netflix.com"),
            QStringLiteral("twitch.tv"),
            QStringLiteral("pinterest.com"),
        }};
    return selection;
}

QByteArray MacActivitySelection::encode() const {
    return QJsonDocument(QJsonObject{{QStringLiteral("appBundleIDs"), QJsonArray::fromStringList(appBundleIDs)},
                                     {QStringLiteral("webDomains"), QJsonArray::fromStringList(webDomains)}})
        .toJson(QJsonDocument::Compact);
}

namespace {
std::optional<QStringList> stringList(const QJsonValue &value) {
    if (!value.isArray()) return std::nullopt;
    QStringList list;
    for (const QJsonValue &v : value.toArray()) {
        if (!v.isString()) return std::nullopt;
        list.append(v.toString());
    }
    return list;
}
} // namespace

std::optional<MacActivitySelection> MacActivitySelection::decode(const QByteArray &json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    auto apps = stringList(doc.object().value(QLatin1String("appBundleIDs")));
    auto domains = stringList(doc.object().value(QLatin1String("webDomains")));
    if (!apps || !domains) return std::nullopt;
    return MacActivitySelection{*apps, *domains};
}

} // namespace quillmoss
