#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace
{

// What a parse produced, flattened so that a table row can say it in one string.
QString summary(const CommandLineOptions &o)
{
    if (!o.error.isEmpty())
        return "error: " + o.error;
    QStringList parts;
    const std::pair<bool, const char *> flags[]
        = { { o.help, "help" }, { o.headless, "headless" }, { o.reload, "reload" },
              { o.download, "download" }, { o.convertXml, "xml" }, { o.upload, "upload" } };
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
    };
    for (const Row &row : rows) {
        const QStringList arguments = QStringList { QStringLiteral("pallaro") } + row.arguments;
        EXPECT_EQ(summary(parseCommandLine(arguments)).toStdString(), row.expected)
            << row.arguments.join(QLatin1Char(' ')).toStdString();
    }
}

} // namespace
