#include "SettingNames.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <cmath>
#include <limits>

QString toDisplayName(const QString& name) {
    QString out;
    out.reserve(name.size());
    bool wordStart = true;
    for (const QChar c : name) {
        if (c.isSpace() || c == u'_') {
            wordStart = true;
            out += c;
        } else if (wordStart && c.isLetter()) {
            out += c.toUpper();
            wordStart = false;
        } else {
            out += c;
        }
    }
    out.replace(u'_', u' ');
    return out;
}

// The names our cameras describe, for the translation table.
[[maybe_unused]] const char* const kKnownNames[] = {
    QT_TRANSLATE_NOOP("CameraParameters", "Contrast On"),
    QT_TRANSLATE_NOOP("CameraParameters", "Contrast Off"),
    QT_TRANSLATE_NOOP("CameraParameters", "Noise Level"),
    QT_TRANSLATE_NOOP("CameraParameters", "Refractory Period"),
    QT_TRANSLATE_NOOP("CameraParameters", "Pixel Gain"),
    QT_TRANSLATE_NOOP("CameraParameters", "Channel %1"),
    QT_TRANSLATE_NOOP("CameraParameters", "Enable"),
    QT_TRANSLATE_NOOP("CameraParameters", "Low Frequency"),
    QT_TRANSLATE_NOOP("CameraParameters", "High Frequency"),
    QT_TRANSLATE_NOOP("CameraParameters", "Mode"),
    QT_TRANSLATE_NOOP("CameraParameters", "Band Stop"),
    QT_TRANSLATE_NOOP("CameraParameters", "Band Pass"),
    QT_TRANSLATE_NOOP("CameraParameters", "Max Event Rate"),
    QT_TRANSLATE_NOOP("CameraParameters", "Type"),
    QT_TRANSLATE_NOOP("CameraParameters", "First Event"),
    QT_TRANSLATE_NOOP("CameraParameters", "Polarity Change"),
    QT_TRANSLATE_NOOP("CameraParameters", "Threshold"),
    QT_TRANSLATE_NOOP("CameraParameters", "X"),
    QT_TRANSLATE_NOOP("CameraParameters", "Y"),
    QT_TRANSLATE_NOOP("CameraParameters", "Width"),
    QT_TRANSLATE_NOOP("CameraParameters", "Height"),
    QT_TRANSLATE_NOOP("CameraParameters", "Exposure Time"),
    QT_TRANSLATE_NOOP("CameraParameters", "Analog Gain"),
};

QString translatedDisplayName(const QString& name) {
    const QString display = toDisplayName(name);
    static const QRegularExpression numbered("^(.*\\S) (\\d+)$");
    const QRegularExpressionMatch m = numbered.match(display);
    if (m.hasMatch()) {
        const QByteArray pattern = (m.captured(1) + " %1").toUtf8();
        const QString shown = QCoreApplication::translate("CameraParameters", pattern.constData());
        if (shown != QString::fromUtf8(pattern)) return shown.arg(m.captured(2));
    }
    const QByteArray source = display.toUtf8();
    return QCoreApplication::translate("CameraParameters", source.constData());
}

QString translatedOptionName(const QString& option) {
    const QString shown = translatedDisplayName(option);
    return shown == toDisplayName(option) ? option : shown;
}

QString toParameterName(const QString& label) {
    return label.toLower().replace(u' ', u'_');
}

int truncateToInt(float value) {
    if (std::isnan(value)) return 0;
    // float(INT_MAX) rounds up to 2^31, which no longer fits: compare in double.
    const double v = std::trunc(double(value));
    if (v >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(v);
}
