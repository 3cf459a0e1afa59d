#pragma once

#include <QMetaType>

#include "korvane/camera/CameraStreamType.h"  // korvane::STREAM_TYPE belongs to the camera libraries

Q_DECLARE_METATYPE(korvane::STREAM_TYPE)
