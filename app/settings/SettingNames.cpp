#include "SettingNames.h"

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
