#pragma once

// Style sheets are patched at run time by replacing one declaration: the
// first "name...;" declaration is replaced, or the declaration appended.
// The name must start a declaration: "color" does not match inside
// "background-color".

#include <QRegularExpression>
#include <QString>

inline QString replaceStyleDeclaration(const QString& styleSheet, const QString& name,
                                       const QString& declaration) {
    const QRegularExpression pattern("((?<![-\\w])" + QRegularExpression::escape(name) + "[^;]*;)");
    QString result = styleSheet;
    const QRegularExpressionMatch match = pattern.match(result);
    if (match.hasMatch())
        return result.replace(match.capturedStart(1), match.capturedLength(1), declaration);
    return result + declaration;
}
