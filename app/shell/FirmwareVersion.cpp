#include "FirmwareVersion.h"

#include <QDebug>
#include <QRegularExpression>
#include <QVersionNumber>

namespace {

// Null when the text names no version.
QVersionNumber versionIn(const QString& text) {
    static const QRegularExpression withV(QStringLiteral("V(\\d+(\\.\\d+){0,2})"));
    static const QRegularExpression bare(
        QStringLiteral("(?<![\\w.])(\\d+(\\.\\d+){0,2})(?![\\w])"));
    QRegularExpressionMatch m = withV.match(text);
    if (!m.hasMatch()) m = bare.match(text);
    if (!m.hasMatch()) return QVersionNumber();
    return QVersionNumber::fromString(m.captured(1));
}

}  // namespace

bool isVersionAtLeast(const QString& text, const QString& minimum) {
    const QVersionNumber have = versionIn(text);
    if (have.isNull()) {
        qWarning() << "Cannot parse version from:" << text;
        return false;
    }
    const QVersionNumber need = versionIn(minimum);
    if (need.isNull()) {
        qWarning() << "Cannot parse version from:" << minimum;
        return false;
    }
    return have >= need;
}
