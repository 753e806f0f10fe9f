#include "CliOptions.h"

#include "AtomicFile.h"
#include "CommandHelp.h"
#include "DemoChain.h"
#include "Dictionary.h"
#include "FilterCheck.h"
#include "FilterDates.h"
#include "FilterText.h"
#include "ReportKeys.h"
#include "TextWrap.h"
#include "ReportSession.h"
#include "VelError.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>

namespace {

const char *const kRunDescription = R"(运行一张会员报表，把结果写成表格、CSV、JSON、XLSX 或 PDF。

报表编号：
  10901 储值积分变动表      10902 会员消费表
  10903 会员消费明细表      10904 礼品兑换表
  10905 充值流水表          10906 商品零售价格资料表
  10908 储值负债变动表      10909 储值余额账龄表
  10910 跨店结算表          10911 预付资金存管表)";

const char *const kRunNotes = R"(过滤条件：每张报表的过滤条件（项、类型、取值、是否必填）用 velvip-report keys RPTID 查看。运行前会检查过滤条件：缺少必填项、报表没有的项、类型或取值不对、范围颠倒，都按命令行错误处理（退出状态 2）。只写日期的 BDate 取当天 00:00:00，只写日期的 EDate 取当天 23:59:59；2024/05/31、20240531、2024年5月31日 等写法也可以。

演示数据：不给 --props 或 --db 时使用内置的演示连锁数据库，首次使用时生成。它含 %1 的数据，例如 --period 2024-05。

取消：运行中按 Ctrl+C（或发送 SIGTERM）会停止正在执行的查询（SQLite 中断语句，PostgreSQL 发送取消请求，服务器上不留下运行中的查询），在标准错误写一行“已取消”，以退出状态 130 结束；再按一次 Ctrl+C 立即结束。

退出状态：0 报表成功；1 报表失败（错误写到标准错误）；2 命令行有误；130 已取消（Ctrl+C 或 SIGTERM）。)";

const char *const kExamples = R"(示例：
  velvip-report run 10902 --period 2024-05 --set GroupBy=1
  velvip-report run 10903 --period 2024-05-01..2024-05-07 --set BVipNum=80000001 --set EVipNum=80000100 --format csv --out lines.csv
  velvip-report run 10901 --period 2024-05 --set ShowSumOnly=1
  velvip-report run 10905 --db chain.sqlite --filter-json filter.json --format xlsx --out topups.xlsx
  velvip-report run 10906 --props "Driver=PostgreSQL;Host=127.0.0.1;Port=5432;Database=velvip;User=report;Password=..."
  velvip-report run 10901 --dialog
  velvip-report keys 10904
  velvip-report make-demo --out chain.sqlite --members 500)";

// A filter file larger than this is not a filter.
constexpr qint64 kMaxFilterBytes = 1024 * 1024;

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption props{QStringLiteral("props"),
        QStringLiteral("连接文本，例如 \"Driver=SQLite;Database=/path/chain.sqlite\" 或 "
                       "\"Driver=PostgreSQL;Host=...;Port=5432;Database=...;User=...;Password=...\"。"),
        QStringLiteral("TEXT")};
    QCommandLineOption db{QStringLiteral("db"), QStringLiteral("SQLite 数据库文件（--props 的简写）。"),
        QStringLiteral("FILE")};
    QCommandLineOption set{QStringLiteral("set"),
        QStringLiteral("过滤条件的一项，可重复，例如 --set GroupBy=1 --set BVipNum=80000001；值按该项的类型转换。"),
        QStringLiteral("KEY=VALUE")};
    QCommandLineOption filterJson{QStringLiteral("filter-json"),
        QStringLiteral("JSON 对象形式的过滤条件，保留 JSON 类型，例如 {\"GroupBy\": 1, \"VipName\": \"张\"}；"
                       "--set 的值覆盖其中同名的项。"),
        QStringLiteral("FILE")};
    QCommandLineOption period{QStringLiteral("period"),
        QStringLiteral("报表期间：2024-05（一个月）、2024（一年）、2024-05-01..2024-05-31（日期范围）、今天、昨天、本周、上周、本月、上月、本月至今、本年、上年或本年至今。"
                       "10901 设 Year 和 Month（须为一个整月），其他有日期的报表设 BDate（当天 00:00:00）和 EDate（当天 23:59:59）。"),
        QStringLiteral("PERIOD")};
    QCommandLineOption context{QStringLiteral("context"),
        QStringLiteral("主程序环境的一项：AppType（整数）、ISBranch、SVCardShareType（0/1）、BranchNum；可重复。"
                       "默认为总部、储值卡共享：ISBranch=0 SVCardShareType=1。"),
        QStringLiteral("KEY=VALUE")};
    QCommandLineOption branchScope{QStringLiteral("branch-scope"),
        QStringLiteral("只读这个分店的数据，如报表服务对该分店用户所做（各报表和查找列表的范围见 server/README.md）；"
                       "默认不限（总部）。"),
        QStringLiteral("BRANCH")};
    QCommandLineOption format{QStringLiteral("format"),
        QStringLiteral("输出格式：table（默认）、csv、json、xlsx 或 pdf（xlsx 和 pdf 须用 --out）。"), QStringLiteral("FORMAT"),
        QStringLiteral("table")};
    QCommandLineOption out{QStringLiteral("out"), QStringLiteral("输出文件；默认写到标准输出。"),
        QStringLiteral("FILE")};
    QCommandLineOption bom{QStringLiteral("bom"),
        QStringLiteral("CSV 文件以 UTF-8 BOM 开头（需要它才能正确显示中文的电子表格程序用）；默认不带。")};
    QCommandLineOption dialog{QStringLiteral("dialog"),
        QStringLiteral("先显示报表的过滤条件对话框（需要能看到的图形界面）；--set、--filter-json 和 --period 不再使用。")};

    Parser()
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addHelpOption();
        parser.addOptions(options());
        parser.addPositionalArgument(QStringLiteral("RPTID"), QStringLiteral("报表编号，%1。").arg(ReportSession::ReportIdsText()));
    }

    QList<QCommandLineOption> options() const
    {
        return {props, db, set, filterJson, period, context, branchScope, format, out, bom, dialog};
    }
};

// Each step of reading the run's options below gives the usage error, empty when all is well.

QString readReportId(const Parser &p, RunOptions &o)
{
    const QStringList positional = p.parser.positionalArguments();
    if (positional.size() != 1)
        return positional.isEmpty() ? QStringLiteral("缺少报表编号") : QStringLiteral("只能给一个报表编号");
    bool ok = false;
    o.rptId = positional.first().toInt(&ok);
    if (!ok || !ReportSession::ReportIds().contains(o.rptId))
        return QStringLiteral("报表编号应为 %1，而不是“%2”").arg(ReportSession::ReportIdsText(), positional.first());
    return {};
}

QString readConnection(const Parser &p, RunOptions &o)
{
    if (p.parser.isSet(p.props) && p.parser.isSet(p.db))
        return QStringLiteral("--props 和 --db 只能用一个");
    if (p.parser.isSet(p.props)) {
        o.props = p.parser.value(p.props);
        // An empty text given on purpose is a mistake, not a request for the demo chain.
        if (o.props.trimmed().isEmpty())
            return QStringLiteral("--props 给出的连接文本是空的（例如 Driver=SQLite;Database=文件）");
    } else if (p.parser.isSet(p.db))
        o.props = DemoChain::SqliteConnectionText(p.parser.value(p.db));
    return {};
}

QString readOutput(const Parser &p, RunOptions &o)
{
    const QString format = p.parser.value(p.format).toLower();
    if (format == QLatin1String("table")) o.format = RunOptions::Format::Table;
    else if (format == QLatin1String("csv")) o.format = RunOptions::Format::Csv;
    else if (format == QLatin1String("json")) o.format = RunOptions::Format::Json;
    else if (format == QLatin1String("xlsx")) o.format = RunOptions::Format::Xlsx;
    else if (format == QLatin1String("pdf")) o.format = RunOptions::Format::Pdf;
    else return QStringLiteral("未知的输出格式“%1”（table、csv、json、xlsx、pdf）").arg(format);
    o.outPath = p.parser.value(p.out);
    if ((o.format == RunOptions::Format::Xlsx || o.format == RunOptions::Format::Pdf) && o.outPath.isEmpty())
        return QStringLiteral("%1 格式须用 --out 指定文件").arg(format);
    o.byteOrderMark = p.parser.isSet(p.bom);
    o.dialog = p.parser.isSet(p.dialog);
    return {};
}

QString readScope(const Parser &p, RunOptions &o)
{
    if (!p.parser.isSet(p.branchScope))
        return {};
    try {
        o.scope = BranchScope::Branch(p.parser.value(p.branchScope));
    } catch (const VelError &e) {
        return e.Description();
    }
    return {};
}

// --filter-json: the filter to start from.
QString readFilterFile(const Parser &p, RunOptions &o)
{
    o.filter = Dictionary::Create();
    if (!p.parser.isSet(p.filterJson))
        return {};
    QFile file(p.parser.value(p.filterJson));
    try {
        RequireRegularFile(file.fileName());   // a FIFO would keep the run waiting
    } catch (const VelError &e) {
        return e.Description();
    }
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("无法读取过滤条件文件 %1：%2").arg(file.fileName(), file.errorString());
    // Read no more than the limit: the file may be growing.
    const QByteArray json = file.read(kMaxFilterBytes + 1);
    if (json.size() > kMaxFilterBytes)
        return QStringLiteral("过滤条件文件 %1 超过 1 MB，不是过滤条件").arg(file.fileName());
    try {
        o.filter = FilterFromJson(json);
    } catch (const VelError &e) {
        return e.Description();
    }
    return {};
}

// --period and --set on top of the filter; a key may come from one of them only.
QString readFilterKeys(const Parser &p, RunOptions &o)
{
    QStringList periodKeys;
    if (p.parser.isSet(p.period)) {
        try {
            const auto period = FilterDates::ParsePeriod(p.parser.value(p.period), QDate::currentDate());
            for (const auto &[key, value] : FilterDates::PeriodKeys(o.rptId, period)) {
                o.filter->SetValue(key, value);
                periodKeys << key;
            }
        } catch (const VelError &e) {
            return QStringLiteral("--period：") + e.Description();
        }
    }
    for (const QString &pair : p.parser.values(p.set)) {
        QString key, value;
        if (!SplitKeyValue(pair, &key, &value))
            return QStringLiteral("--set 应为 KEY=VALUE，而不是“%1”").arg(pair);
        if (periodKeys.contains(key))
            return QStringLiteral("--set %1 与 --period 重复，只能用一个").arg(key);
        o.filter->SetValue(key, value);
    }
    return {};
}

// The filter's problems, with in `hint` what to read next.
QString checkFilter(RunOptions &o, QString &hint)
{
    const QStringList problems = FilterCheck::CheckAndConvert(o.rptId, *o.filter);
    if (problems.isEmpty())
        return {};
    hint = QStringLiteral("用 velvip-report keys %1 查看报表 %1 的全部过滤条件。").arg(o.rptId);
    QString periodKey = QStringLiteral("EDate");
    for (const char *key : {"Year", "BDate"})
        if (periodKey == QLatin1String("EDate") && ReportKeys::Find(o.rptId, QLatin1String(key)))
            periodKey = QLatin1String(key);
    if (ReportKeys::HasPeriod(o.rptId) && !o.filter->Lookup(periodKey))
        hint += QStringLiteral("期间可用 --period 设定，例如 --period 2024-05。");
    return problems.join(u'\n');
}

QString readContext(const Parser &p, RunOptions &o)
{
    o.context = ReportSession::DefaultContext();
    for (const QString &pair : p.parser.values(p.context)) {
        QString key, value;
        if (!SplitKeyValue(pair, &key, &value))
            return QStringLiteral("--context 应为 KEY=VALUE，而不是“%1”").arg(pair);
        const QStringList known = ReportSession::DefaultContext().keys();
        if (!known.contains(key)) {
            const QString nearest = FilterCheck::Nearest(key, known);
            return QStringLiteral("主程序环境没有“%1”项%2（可用 %3）")
                .arg(key, nearest.isEmpty() ? QString() : QStringLiteral("，是不是“%1”？").arg(nearest),
                     known.join(QStringLiteral("、")));
        }
        try {
            o.context.insert(key, ReportSession::ContextValue(key, value));
        } catch (const VelError &e) {
            return e.Description();
        }
    }
    return {};
}

} // namespace

QString DemoPeriodText()
{
    const DemoOptions demo = DemoChain::DefaultOptions();
    return QStringLiteral("%1 至 %2").arg(demo.firstDay.toString(Qt::ISODate),
                                         demo.firstDay.addDays(demo.days - 1).toString(Qt::ISODate));
}

QString ProgramHelp(int width)
{
    Parser p;
    const QString usage = QStringLiteral(
        "用法：velvip-report run RPTID [选项]\n"
        "      velvip-report keys [RPTID] [--markdown]（列出报表的过滤条件）\n"
        "      velvip-report make-demo --out FILE [选项]（生成演示连锁数据库，详见 make-demo --help）\n"
        "      velvip-report upgrade-schema --props TEXT（为旧版本的门店数据库建立储值积分余额账）");
    return TextWrap::WrapParagraphs(usage + QStringLiteral("\n\n") + QString::fromUtf8(kRunDescription), width, 6)
        + QStringLiteral("\n\n选项：\n") + CommandHelp::Options(p.options(), width) + QStringLiteral("\n\n")
        + TextWrap::WrapParagraphs(QString::fromUtf8(kRunNotes).arg(DemoPeriodText()), width, 0) + QStringLiteral("\n\n")
        + TextWrap::WrapParagraphs(QString::fromUtf8(kExamples), width, 6) + u'\n';
}

ParsedCommandLine ParseRunArguments(const QStringList &args)
{
    ParsedCommandLine parsed;
    Parser p;
    auto usage = [&parsed](const QString &text) {
        parsed.outcome = ParsedCommandLine::Outcome::UsageError;
        parsed.text = text;
        return parsed;
    };
    if (!p.parser.parse(QStringList{QStringLiteral("velvip-report run")} + args))
        return usage(CommandHelp::ParseError(p.parser, p.options()));
    if (p.parser.isSet(QStringLiteral("help"))) {
        parsed.outcome = ParsedCommandLine::Outcome::Help;
        parsed.text = ProgramHelp(TextWrap::TerminalWidth());
        return parsed;
    }
    RunOptions &o = parsed.options;
    using Step = QString (*)(const Parser &, RunOptions &);
    for (Step step : {readReportId, readConnection, readOutput, readScope, readFilterFile, readFilterKeys}) {
        const QString error = step(p, o);
        if (!error.isEmpty())
            return usage(error);
    }
    if (!o.dialog) {
        const QString problems = checkFilter(o, parsed.hint);
        if (!problems.isEmpty())
            return usage(problems);
    }
    const QString error = readContext(p, o);
    if (!error.isEmpty())
        return usage(error);
    parsed.outcome = ParsedCommandLine::Outcome::Run;
    return parsed;
}
