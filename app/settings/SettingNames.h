#pragma once

// Parameter names and row labels: bias_diff_on is labelled "Bias Diff On".
// Rows show the label but keep the name they were built from, since the
// label does not lead back to every name ("Bias_FO" would come back as
// "bias_fo").

#include <QString>

// Capitalises the first letter of each word (words start after whitespace or
// "_"; other characters do not end the wait for a letter), then "_" -> " ".
QString toDisplayName(const QString& name);

// What a row shows for a parameter or an option name: its display name
// translated (context "CameraParameters"; "Channel 2" as "Channel %1"), or
// the display name itself where no translation is known.
QString translatedDisplayName(const QString& name);
// An option of an enumeration as a row shows it: translated as above where a
// translation is known, otherwise the option's own name ("band_stop").
QString translatedOptionName(const QString& option);

// Lower case, then " " -> "_".
QString toParameterName(const QString& label);

// A float truncated toward zero, held inside the int range (NaN gives 0),
// for rows that edit whole numbers only.
int truncateToInt(float value);
