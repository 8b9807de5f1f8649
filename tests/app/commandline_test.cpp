#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace
{

// What a parse produced, flattened so that a table row can say it in one string.
QString summary(const CommandLineOptions &o)
{
    if (!o.error.isEmpty())
        return QStringLiteral("error: ") + o.error;
    QStringList parts;
    auto flag = [&](bool on, const char *name) {
        if (on)
            parts << QString::fromLatin1(name);
    };
    auto text = [&](const std::optional<QString> &v, const char *name) {
        if (v)
            parts << QString::fromLatin1(name) + QLatin1Char('=') + *v;
    };
    flag(o.help, "help");
    flag(o.headless, "headless");
    flag(o.reload, "reload");
    flag(o.download, "download");
    text(o.getKey, "get");
    text(o.setAssignment, "set");
    if (o.convert)
        parts << QStringLiteral("convert=") + o.convert->join(QLatin1Char('|'));
    flag(o.convertXml, "xml");
    flag(o.upload, "upload");
    text(o.pvrSimFolder, "pvr-sim");
    parts << (wantsWindow(o) ? QStringLiteral("window") : QStringLiteral("no-window"));
    return parts.join(QLatin1Char(' '));
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
        { { "--convert", "in.xml", "out", "--xml" }, "convert=in.xml|out xml no-window" },
        { { "--xml", "--convert", "in.xml", "out" }, "convert=in.xml|out xml no-window" },
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
