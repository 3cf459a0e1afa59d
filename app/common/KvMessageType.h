#pragma once

#include <QMetaType>

// The kind of a bottom-left notice.
enum class KvMessageType : int {
    Success = 0,
    Warning = 1,
    Error = 2,
};
Q_DECLARE_METATYPE(KvMessageType)
