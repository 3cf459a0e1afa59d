#pragma once

// The colours event images are painted in, and how a painter asks for them.
// The shell hands a source to the processors (from its configuration); a
// painter calls it on whatever thread it paints.

#include <QColor>
#include <functional>

struct ThemeColors {
    // "Gray", the configuration's default.
    QColor on{191, 188, 180};
    QColor off{64, 61, 51};
    QColor background{112, 112, 112};
};

using ThemeSource = std::function<ThemeColors()>;
