#pragma once

#include <QString>

// The process-wide language table. Every visible text is looked up here by key;
// a key the table lacks shows as itself. GUI thread only, no lock.

void setLanguageRoot(const QString &root);
// The folder given to setLanguageRoot; empty before.
QString languageRoot();
// Replaces the table with the entries of "<root>/<name>.lg" (or of the file name
// itself when it already ends with ".lg"). A missing file leaves the table empty.
void loadLanguage(const QString &name);
QString languageText(const QString &key);
// Strips leading blanks, trailing blanks and semicolons, then one leading and one
// trailing double quote.
QString trimLanguageField(const QString &field);
