#include "app/CommandLine.h"
#include "base/Paths.h"
#include "base/Settings.h"
#include "base/SystemLog.h"
#include "ui/KeywordController.h"
#include "ui/KeywordFile.h"
#include "ui/RuleFilters.h"

#include <QDate>
#include <QFile>
#include <QTextStream>

namespace
{

// A field of a line: no TAB or line break of a term may split it.
QString field(QString text)
{
    for (QChar &c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}

QString terms(const QStringList &list)
{
    QStringList kept;
    for (const QString &t : list)
        if (!t.isEmpty())
            kept << t;
    return field(kept.join(QStringLiteral(", ")));
}

} // namespace

int runRulesCommand(const QDate &today, QTextStream &out, QTextStream &err)
{
    Settings::registerDefaults();
    const QString path = Paths::applicationSupportFolder() + QStringLiteral("/Keywords.plist");
    KeywordRules rules;
    QFile file(path);
    if (file.exists()) {
        // Read as it is: a damaged file is reported, never set aside (this command writes
        // nothing).
        QString why;
        std::optional<KeywordRules> read;
        if (file.open(QIODevice::ReadOnly))
            read = KeywordFile::fromBytes(file.readAll(), &why);
        else
            why = file.errorString();
        if (!read) {
            err << "pallaro: cannot read the keyword rules in " << path << ": " << why << "\n";
            return 2;
        }
        rules = std::move(*read);
    }
    if (rules.empty())
        return 1;

    // The reload's reader and match run, storing nothing: what the rules would match now.
    QStringList lines;
    setSystemLogSink([&lines](const QString &line) { lines << line; });
    bool read = true;
    {
        KeywordController kwc(nullptr, nullptr);
        kwc.setToday([&today] { return today; });
        kwc.setSeqs(rules);
        read = kwc.loadInData();
        kwc.previewMatches();
    }
    setSystemLogSink({});
    if (!read) {
        for (const QString &line : lines)
            if (line.startsWith(QLatin1String("cannot read"))) {
                err << "pallaro: " << line << "\n";
                break;
            }
        return 2;
    }
    for (const QString &line : lines)
        err << "pallaro: " << line << "\n";

    for (size_t i = 0; i < rules.size(); ++i) {
        const KeywordRule &r = *rules[i];
        const RuleFilters f = RuleFilters::of(r);
        QString narrowing = f.describe();
        if (r.exact)
            narrowing = narrowing.isEmpty() ? QStringLiteral("Exact")
                                            : QStringLiteral("Exact; ") + narrowing;
        out << (i + 1) << '\t' << terms(r.keywords) << '\t' << terms(r.negatives) << '\t'
            << field(narrowing) << '\t' << r.numberMatches << '\t'
            << (r.autoRecord.value_or(false) ? "auto" : "") << '\n';
    }
    out.flush();
    err.flush();
    return 0;
}
