#include "app/CommandLine.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace
{

// What a parse produced, flattened so that a table row can say it in one string.
QString summary(const CommandLineOptions &o)
{
    if (!o.error.isEmpty())
        return "error: " + o.error;
    QStringList parts;
    const std::pair<bool, const char *> flags[] = { { o.help, "help" }, { o.headless, "headless" },
        { o.reload, "reload" }, { o.download, "download" }, { o.convertXml, "xml" },
        { o.upload, "upload" }, { o.status, "status" } };
    for (const auto &[on, name] : flags)
        if (on)
            parts << name;
    const std::pair<const std::optional<QString> *, const char *> texts[]
        = { { &o.getKey, "get" }, { &o.setAssignment, "set" }, { &o.pvrSimFolder, "pvr-sim" } };
    for (const auto &[value, name] : texts)
        if (*value)
            parts << QString(name) + "=" + **value;
    if (o.convert)
        parts << "convert=" + o.convert->join('|');
    parts << (wantsWindow(o) ? "window" : "no-window");
    return parts.join(' ');
}

struct Row {
    QStringList arguments;
    const char *expected;
};

TEST(CommandLineParse, EveryOptionAndEveryRefusal)
{
    const Row rows[] = {
        { {}, "window" },
        { { "--help" }, "help no-window" },
        { { "-h" }, "help no-window" },
        { { "--headless", "--download", "--upload" }, "headless download upload no-window" },
        { { "--headless", "--reload" }, "headless reload no-window" },
        { { "--get", "location" }, "get=location no-window" },
        { { "--get=location" }, "get=location no-window" },
        { { "--set", "location=Northern NSW (North)" },
            "set=location=Northern NSW (North) no-window" },
        { { "--convert", "in.xml", "out", "--xml" }, "xml convert=in.xml|out no-window" },
        { { "--xml", "--convert", "in.xml", "out" }, "xml convert=in.xml|out no-window" },
        { { "--headless", "--upload", "--pvr-sim", "/tmp/disk" },
            "headless upload pvr-sim=/tmp/disk no-window" },
        // --pvr-sim alone only says where an upload would go: the window still opens.
        { { "--pvr-sim", "/tmp/disk" }, "pvr-sim=/tmp/disk window" },
        { { "--bogus" }, "error: unknown option: --bogus" },
        { { "-x" }, "error: unknown option: -x" },
        { { "-headles" }, "error: unknown option: -headles" },
        { { "--get" }, "error: --get needs a value" },
        { { "--headless", "--set" }, "error: --set needs a value" },
        { { "--pvr-sim" }, "error: --pvr-sim needs a value" },
        { { "--convert" }, "error: --convert needs XMLTV_FILE and OUTPUT_FOLDER" },
        { { "--convert", "in.xml" }, "error: --convert needs XMLTV_FILE and OUTPUT_FOLDER" },
        { { "--convert", "in.xml", "out", "more" },
            "error: --convert needs XMLTV_FILE and OUTPUT_FOLDER" },
        { { "--xml" }, "error: --xml goes with --convert" },
        { { "stray" }, "error: unexpected argument: stray" },
        { { "--help=yes" }, "error: Unexpected value after '--help'." },
        { { "--status" }, "status no-window" },
        { { "--status", "--upload" }, "error: --status goes alone" },
        { { "--get", "autoRun", "--status" }, "error: --status goes alone" },
    };
    for (const Row &row : rows) {
        const QStringList arguments = QStringList { QStringLiteral("pallaro") } + row.arguments;
        EXPECT_EQ(summary(parseCommandLine(arguments)).toStdString(), row.expected)
            << row.arguments.join(QLatin1Char(' ')).toStdString();
    }
}

QString sourceFile(const char *relative)
{
    QFile file(QStringLiteral(PALLARO_SOURCE_DIR "/") + relative);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The help, the manual page and the bash completion each name every option of the
// parser's table, and the completion offers nothing the parser refuses.
TEST(CommandLineParse, HelpManualAndCompletionKeepUpWithTheOptionTable)
{
    const QStringList options = commandLineOptionNames();
    ASSERT_GE(options.size(), 17);
    const QString manual = sourceFile("docs/pallaro.1");
    const QString completion = sourceFile("resources/desktop/pallaro.bash-completion");
    ASSERT_FALSE(manual.isEmpty());
    ASSERT_FALSE(completion.isEmpty());
    for (const QString &option : options) {
        EXPECT_TRUE(commandLineHelp().contains("  " + option + " ")
            || commandLineHelp().contains("  " + option + "\n"))
            << "help: " << option.toStdString();
        // troff spells a minus "\-"; the option starts a tagged paragraph.
        QString troff = option;
        troff.replace('-', "\\-");
        static const QRegularExpression tag("^\\.(B|BI|BR) ", QRegularExpression::MultilineOption);
        bool tagged = false;
        for (const QString &line : manual.split('\n'))
            if (tag.match(line).hasMatch() && line.contains(troff))
                tagged = true;
        EXPECT_TRUE(tagged) << "manual: " << option.toStdString();
        EXPECT_TRUE(QRegularExpression("[\\s\"]" + QRegularExpression::escape(option) + "[\\s\"]")
                        .match(completion)
                        .hasMatch())
            << "completion: " << option.toStdString();
    }
    static const QRegularExpression offered("--[a-z-]+");
    for (const QRegularExpressionMatch &m : offered.globalMatch(completion))
        EXPECT_TRUE(options.contains(m.captured()))
            << "completion offers " << m.captured().toStdString();
    EXPECT_TRUE(manual.contains("\n.SH EXAMPLES\n"));
    EXPECT_TRUE(manual.contains("\n.SH EXIT STATUS\n"));
}

} // namespace
