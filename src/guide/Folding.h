#pragma once

#include <QString>

// The form in which text is compared case- and diacritic-insensitively (searching the
// programme table, matching keyword rules): decomposed, combining marks dropped, case
// folded. A substring test on two folded texts is the insensitive "contains".
QString foldCaseAndDiacritics(const QString &text);
